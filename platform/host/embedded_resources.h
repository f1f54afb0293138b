// The certificate set as the host build carries it: a table generated at
// configure time from resources/certificate_set.txt, in place of the
// resource section of a Windows executable.
#ifndef CERTINSTALL_PLATFORM_HOST_EMBEDDED_RESOURCES_H
#define CERTINSTALL_PLATFORM_HOST_EMBEDDED_RESOURCES_H

#include "platform/win32.h"

struct EmbeddedResource {
  LPCWSTR type;  // as stored: upper case
  DWORD id;
  const BYTE* data;  // never null, also for an empty resource
  DWORD size;
};

// Ends with an entry whose type is null.
extern const EmbeddedResource embeddedResources[];

#endif
