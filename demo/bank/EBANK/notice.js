// Notices the assistant's page shows; each is a snippet of simple HTML.
window.notices = [
    '<b>演示银行公告</b>：本网站只用于网银助手的演示，所有服务都在本机。',
    '请勿在任何网站输入您真实的网银密码。'
];
