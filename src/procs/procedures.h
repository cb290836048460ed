// The five procedures the library exports, under these undecorated names.
// Each takes the host's handle of one call and returns 1 after its OUTPUT
// parameter was set, 0 after an error was reported to the caller.
#pragma once

#include "procs/ods.h"

#if defined(_WIN32)
#define VARROW_EXPORT  // exported by the module-definition file
#else
#define VARROW_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

// AES-ECB with PKCS#7 padding; parameters: input, key (hex text, "keyfile=PATH"
// or NULL for the built-in key), OUTPUT.
VARROW_EXPORT int xp_AES_Encrypt(SRV_PROC* srvproc);
VARROW_EXPORT int xp_AES_Decrypt(SRV_PROC* srvproc);

// Raw digest bytes; parameters: input, OUTPUT.
VARROW_EXPORT int xp_MD5_Encrypt(SRV_PROC* srvproc);
VARROW_EXPORT int xp_SHA1_Encrypt(SRV_PROC* srvproc);

// Uppercase hexadecimal text of the input bytes; parameters: input, OUTPUT.
VARROW_EXPORT int xp_hexstr(SRV_PROC* srvproc);

}  // extern "C"
