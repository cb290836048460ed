// What varrowd's command line says about encryption, turned into the
// channel's settings; what listening beyond loopback requires; and the line
// that tells at start which encryption varrowd offers.
#pragma once

#include <string>

#include "tds/server/channel.h"

namespace varrow::host::tds {

struct TlsOptions {
  std::string cert_file;   // --tls-cert
  std::string key_file;    // --tls-key
  std::string encryption;  // --encryption; "" for the default
};

// The default is `required` with a certificate and `off` without one.
// Throws std::invalid_argument for options that do not go together (a
// certificate without its key, encryption without a certificate, an unknown
// setting) and TlsSetupError, naming the file, for unusable files (checked
// even with encryption off).
EncryptionSettings encryption_settings(const TlsOptions& options);

// The options a non-loopback address still needs, as a user would supply
// them (a password, TLS, --encryption required); empty when none.
std::string missing_for_network(bool has_password, const EncryptionSettings& encryption);

// "encryption required: ..." for the start-up output.
std::string encryption_offered(const EncryptionSettings& encryption);

}  // namespace varrow::host::tds
