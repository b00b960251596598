# The program runs elevated, often from a Downloads folder. A system library that is not one of the
# "known DLLs" and is imported the ordinary way is resolved before main, from the program's own
# folder first, so a planted copy there would run elevated. Such libraries are delay-imported
# instead: nothing of them loads until the program has restricted the library search and loaded
# them from system32 itself (see RestrictLibrarySearch).
#
# velmora_delay_import(<name> <dll>) defines the interface library velmora_delay_<name>, to link in
# place of <name>.
#
# A delay-import library's thunk for a function holds the code that loads the library on the first
# call, and the function's import slot points at that code until then. When every caller reaches
# the function through its import slot only (the headers' dllimport declaration) and never names
# the thunk, the i686 linker drops the thunk and leaves the slot 0: the first call jumps to address
# 0. wincrypt.h, the one header of these libraries that declares its functions dllimport (through
# WINIMPM), is made to declare them plainly: calls then go through the thunk, which the linker
# keeps. scripts/check-delay-imports.sh, a test of each Windows build, finds any program whose slot
# lost its thunk all the same.
add_compile_definitions(WINIMPM=)

function(velmora_delay_import name dll)
  find_library(import_lib_${name} NAMES lib${name}.a REQUIRED)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(machine i386)
  else()
    set(machine i386:x86-64)
  endif()
  set(out "${PROJECT_BINARY_DIR}/delay-imports/lib${name}_delay.a")
  add_custom_command(OUTPUT "${out}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${PROJECT_BINARY_DIR}/delay-imports"
    COMMAND bash "${PROJECT_SOURCE_DIR}/scripts/delay-import.sh" "${CMAKE_NM}" "${CMAKE_DLLTOOL}"
            "${import_lib_${name}}" "${dll}" "${machine}" "${out}"
    DEPENDS "${import_lib_${name}}" "${PROJECT_SOURCE_DIR}/scripts/delay-import.sh"
    COMMENT "Delay-import library for ${dll}")
  add_custom_target(velmora_delay_${name}_lib DEPENDS "${out}")
  add_library(velmora_delay_${name} INTERFACE)
  target_link_libraries(velmora_delay_${name} INTERFACE "${out}")
  add_dependencies(velmora_delay_${name} velmora_delay_${name}_lib)
endfunction()
