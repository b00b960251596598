window.notices = ['a']; alert(1)
