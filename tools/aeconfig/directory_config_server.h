// The class object that aeconfig registers in its own process for
// RaltoConfigServer, so that the import, which creates the configuration
// server by CLSID exactly as the server does, is served the documents of the
// directory being checked rather than those the registry store names.
//
// Contract: every object it creates is one of the real configuration
// server's (made by `inner`) with its document directory set. Creation
// failures of the real server come back unchanged. Any thread.
#pragma once

#include <string>

#include "platform/class_factory.h"

// The redirecting class object (null, with the HRESULT in *result, when
// out of memory).
ComPtr<IClassFactory> MakeDirectoryConfigServerClass(ComPtr<IClassFactory> inner, std::string directory,
                                                     HRESULT* result);

// The real configuration server's class object: from the library
// libralto_config.so in `programDirectory` when it is there, else from the
// class registration. Null, with the HRESULT in *result, when neither works.
ComPtr<IClassFactory> LoadConfigServerClass(const std::string& programDirectory, HRESULT* result);
