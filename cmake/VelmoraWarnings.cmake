# Warnings are errors on every target of ours.
set(VELMORA_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wformat=2 -Werror)

function(velmora_warnings target)
  target_compile_options(${target} PRIVATE ${VELMORA_WARNINGS})
endfunction()
