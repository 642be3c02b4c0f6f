#pragma once

// Classes of ZORADLL are exported by name; programs that carry the library's code
// themselves (a static link) define ZORA_STATIC.
#if defined(ZORA_STATIC)
#define ZORADLL_API
#elif defined(ZORADLL_EXPORTS)
#define ZORADLL_API __declspec(dllexport)
#else
#define ZORADLL_API __declspec(dllimport)
#endif
