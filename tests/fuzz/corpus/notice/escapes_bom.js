/* list */ var notices = [
  "a\x41\u{1F600}\uD83D\uDE00\0",
  'b\
c', // more
];
