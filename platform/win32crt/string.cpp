// std::string's members for the Windows images. The library's headers declare them instantiated
// in its prebuilt archive (built for a newer processor); this instantiation builds them here,
// for the i486, and without exceptions.
#include <string>

template class std::__cxx11::basic_string<char>;
