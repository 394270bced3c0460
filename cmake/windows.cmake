# The Windows builds: SETUP.EXE, the installer toolkit SNDSTF.DLL, the dialog library qvxcui.dll
# and the sample driver TONEBAY.DLL.
# Linked statically, so that no compiler runtime DLL has to go on the install disk.
enable_language(RC)
add_compile_options(-Wall -Wextra -Werror)
add_link_options(-static -static-libgcc -static-libstdc++ -s)
# The 32-bit build is the product: undecorated export names (FInfoDlgProc, not FInfoDlgProc@16),
# and headers that Windows NT 3.51 and 4.0 both accept. CreateProcess refuses a program whose
# subsystem version is newer than the running system ("not a valid Windows NT application"), so
# the programs ask for 3.51, not mingw-w64's 5.2 nor 4.0; the dialogs ask for NT 4.0's 3D look
# themselves (DS_3DLOOK), which a 3.51 program does not get by default.
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
  message(FATAL_ERROR "The Windows build is 32-bit only: configure it with the win32 preset "
    "(cmake/mingw-i686.cmake)")
endif()
add_link_options(-Wl,--enable-stdcall-fixup -Wl,--major-subsystem-version,3
  -Wl,--minor-subsystem-version,51 -Wl,--major-os-version,3 -Wl,--minor-os-version,51)
# The C library is crtdll.dll, which Windows NT 3.51 ships; msvcrt.dll came with NT 4.0. The
# product images name it themselves (platform/win32crt). The test-only programs keep mingw-w64's
# runtime, whose compiler driver always asks for -lmsvcrt, last of all: a folder searched first
# answers that name with mingw-w64's crtdll import library and crtdll.c, what the prebuilt C++
# runtime needs beyond it.
set(CRTDLL_DIR ${CMAKE_BINARY_DIR}/crtdll)
set(CRTDLL_EXTRAS ${CMAKE_SOURCE_DIR}/platform/win32crt/crtdll.c)
execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=libcrtdll.a
  OUTPUT_VARIABLE CRTDLL_IMPORT_LIBRARY OUTPUT_STRIP_TRAILING_WHITESPACE)
file(MAKE_DIRECTORY ${CRTDLL_DIR})
execute_process(
  COMMAND ${CMAKE_C_COMPILER} -Os -Wall -Wextra -Werror -c ${CRTDLL_EXTRAS} -o extras.o
  WORKING_DIRECTORY ${CRTDLL_DIR} RESULT_VARIABLE CRTDLL_FAILED)
file(REMOVE ${CRTDLL_DIR}/libcrtdll_extras.a)
execute_process(COMMAND ${CMAKE_AR} rcs libcrtdll_extras.a extras.o
  WORKING_DIRECTORY ${CRTDLL_DIR} RESULT_VARIABLE CRTDLL_AR_FAILED)
if(CRTDLL_FAILED OR CRTDLL_AR_FAILED OR NOT EXISTS "${CRTDLL_IMPORT_LIBRARY}")
  message(FATAL_ERROR "crtdll.dll cannot be linked: ${CRTDLL_IMPORT_LIBRARY} missing, or "
    "${CRTDLL_EXTRAS} does not build")
endif()
file(WRITE ${CRTDLL_DIR}/libmsvcrt.a
  "GROUP ( ${CRTDLL_IMPORT_LIBRARY} ${CRTDLL_DIR}/libcrtdll_extras.a )\n")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CRTDLL_EXTRAS})
add_link_options(-L${CRTDLL_DIR})
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
enable_testing()

# The system sees the real Win32 headers and the toolkit's header; the toolkit is its platform.
add_library(win32_headers INTERFACE)
target_include_directories(win32_headers INTERFACE ${CMAKE_SOURCE_DIR}/platform/toolkit/include)
add_library(win32_platform INTERFACE)
target_link_libraries(win32_platform INTERFACE toolkit advapi32 winmm user32 gdi32 comctl32)

add_subdirectory(platform/win32crt)
add_subdirectory(platform/toolkit)
add_subdirectory(platform/qvxcui)
add_subdirectory(driver)
add_subdirectory(modem)
add_subdirectory(setup setup_flow)

# SETUP.EXE: setup's own WinMain, on the toolkit DLL, with its resources (setup/win32/).
set(SETUP_RESOURCES ${CMAKE_SOURCE_DIR}/setup/win32/setup.rc)
add_executable(setup WIN32 ${SETUP_RESOURCES})
target_link_libraries(setup PRIVATE setup_flow win32_platform)
set_target_properties(setup PROPERTIES OUTPUT_NAME SETUP SUFFIX .EXE)
# WinMain lives in setup's library: ask for it before the C runtime's start-up code does.
target_link_options(setup PRIVATE -Wl,--undefined=_WinMain@16)
# The frame shows SETUP.EXE's icon, loaded by the id of the EXE's resource header.
target_include_directories(toolkit PRIVATE ${CMAKE_SOURCE_DIR})

# The sample driver and the checks of the built files.
add_subdirectory(platform/tonebay)
# The four files on the disk run on their own runtime, built for the i486 like them. Their code
# is built without exceptions and RTTI, so that it needs none of the C++ library's prebuilt
# code; a function's static is set up on first use without a lock: no image starts a thread.
foreach(image setup toolkit qvxcui tonebay)
  win32crt_image(${image})
endforeach()
foreach(code setup setup_flow driver_reg modem_inst toolkit qvxcui tonebay win32crt)
  target_compile_options(${code} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti
    -fno-threadsafe-statics>)
endforeach()
# Its files are also read as an NT loader would (machine, subsystem, exports, imports).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME pe_checks
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/pe/check_pe.py ${CMAKE_BINARY_DIR})
# No 486 runs here: their code is disassembled and held against the i486's instructions, and
# the check itself against a table of instructions it must refuse or pass.
add_test(NAME i486_checks
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/pe/check_i486.py ${CMAKE_OBJDUMP}
    ${CMAKE_BINARY_DIR})
add_test(NAME i486_check_table
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/pe/check_i486.py ${CMAKE_OBJDUMP}
    --self-test ${CMAKE_C_COMPILER})
# A test-only program that drives the real dialogs under 32-bit Wine (tests/qvxcui).
add_subdirectory(tests/qvxcui qvxcui_tests)
# Test-only programs for the end-to-end runs under Wine (tests/wine), in the folder wine/.
add_subdirectory(tests/wine/programs wine)
