#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <cstddef>

#include "net/tls_judgement.h"

// Judges a server's certificate for the host the user named: a chain to one
// of the system's trusted roots or to the CAFile certificate (path, or empty
// for none), within its dates, for that host. Revocation is not checked.
// Builds a certificate chain: the first in a process is slow under Wine
// (hundreds of milliseconds), so this runs on check workers only.
// *caFileUsable is false when a CAFile was named but holds no certificate;
// the verdict is then kCertificateUntrusted. names[size] receives the names
// the certificate is for, for the log.
CertificateVerdict CheckServerCertificate(PCCERT_CONTEXT certificate, const char* host, const char* caFile,
                                          bool* caFileUsable, char* names, size_t size);

// The certificate's subject as shown to people (its common name, usually).
void CertificateSubject(PCCERT_CONTEXT certificate, char* subject, size_t size);
