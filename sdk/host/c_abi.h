// sdk/host/c_abi.h - calling convention and export markers for everything
// that crosses the binary boundary with the host.
//
// Every export and every plain function pointer shared with the host uses
// the C calling convention (the caller cleans the stack). On 32-bit x86 that
// is spelled out, so a compiler default can never change it; elsewhere there
// is only one convention and the marker is empty.
#pragma once

#if defined(__i386__) || defined(_M_IX86)
#define KORVO_CDECL __attribute__((cdecl))
#else
#define KORVO_CDECL
#endif

// The one symbol the plug-in library exports.
#if defined(_WIN32)
#define KORVO_EXPORT extern "C" __declspec(dllexport)
#else
#define KORVO_EXPORT extern "C" __attribute__((visibility("default")))
#endif
