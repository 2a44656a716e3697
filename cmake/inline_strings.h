// Force-included into the library's own code. The runtime's explicit
// std::basic_string instantiations come as one object per character type, so
// a single call drags in every member (about 18 KB for wchar_t alone). The
// runtime's own -1 setting turns off only basic_string's extern templates:
// the members the library uses are compiled here, from the same headers.
#pragma once
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE -1
