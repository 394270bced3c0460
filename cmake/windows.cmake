# The Windows builds: SETUP.EXE, the dialog library qvxcui.dll and the sample driver TONEBAY.DLL.
# Linked statically, so that no compiler runtime DLL has to go on the install disk.
add_compile_options(-Wall -Wextra -Werror)
add_link_options(-static -static-libgcc -static-libstdc++)
enable_testing()

# The sample driver and the checks of the built files.
add_subdirectory(platform/tonebay)
