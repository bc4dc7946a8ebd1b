/* Linkage of the SNA stack's entry points. The stack library defines SNA_BUILDING_STACK. */
#ifndef SNA_EXPORT_H
#define SNA_EXPORT_H

#if defined(_WIN32)
#  ifdef SNA_BUILDING_STACK
#    define SNA_API __declspec(dllexport)
#  else
#    define SNA_API __declspec(dllimport)
#  endif
#  define CM_ENTRY __stdcall
#  define RUI_ENTRY __stdcall
#else
#  define SNA_API __attribute__((visibility("default")))
#  define CM_ENTRY
#  define RUI_ENTRY
#endif

#endif
