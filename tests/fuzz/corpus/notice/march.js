// notices for March
window.notices = ['<p>维护通知：3月2日</p>', "second \"quoted\" notice", 'it\'s\u00e9'];
