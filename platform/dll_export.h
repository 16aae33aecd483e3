// AE_DLL_EXPORT marks a function that a shared library exports under its C
// name for a loader to find with dlsym: an in-process server's
// DllGetClassObject, DllRegisterServer and DllUnregisterServer (see
// class_factory.h), or an installer helper's entry points.
//
// Contract: the function gets C linkage and default visibility, so it is
// exported even from a library built with hidden visibility, which such a
// library should be: then its entry points are its only exports, and
// several plugins loaded into one process never bind to each other's
// classes.
#pragma once

#define AE_DLL_EXPORT extern "C" __attribute__((visibility("default")))
