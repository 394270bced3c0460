# The Windows builds: SETUP.EXE, the dialog library qvxcui.dll and the sample driver TONEBAY.DLL.
# Linked statically, so that no compiler runtime DLL has to go on the install disk.
add_compile_options(-Wall -Wextra -Werror)
add_link_options(-static -static-libgcc -static-libstdc++)
enable_testing()

# The sample driver and the checks of the built files.
add_subdirectory(platform/tonebay)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The product cannot run here: read its files instead (machine, subsystem, exports, imports).
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME pe_checks
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/pe/check_pe.py ${CMAKE_BINARY_DIR})
else()
  # Test-only programs for the end-to-end runs under 64-bit Wine (tests/wine).
  add_subdirectory(tests/wine/win64 wine)
endif()
