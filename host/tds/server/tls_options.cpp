#include "tds/server/tls_options.h"

#include <stdexcept>
#include <vector>

namespace varrow::host::tds {

EncryptionSettings encryption_settings(const TlsOptions& options) {
  const bool cert = !options.cert_file.empty();
  const bool key = !options.key_file.empty();
  if (cert && !key) throw std::invalid_argument("--tls-cert needs --tls-key (its private key)");
  if (key && !cert) throw std::invalid_argument("--tls-key needs --tls-cert (its certificate)");
  EncryptionSettings settings;
  if (options.encryption.empty()) {
    settings.mode = cert ? Encryption::Required : Encryption::Off;
  } else if (options.encryption == "off") {
    settings.mode = Encryption::Off;
  } else if (options.encryption == "optional") {
    settings.mode = Encryption::Optional;
  } else if (options.encryption == "required") {
    settings.mode = Encryption::Required;
  } else {
    throw std::invalid_argument("--encryption takes off, optional or required, not '" +
                                options.encryption + "'");
  }
  if (settings.mode != Encryption::Off && !cert) {
    throw std::invalid_argument("--encryption " + options.encryption +
                                " needs --tls-cert and --tls-key");
  }
  // Checked even with encryption off: files given are files meant to work.
  if (cert) settings.tls = TlsContext::from_files(options.cert_file, options.key_file);
  return settings;
}

std::string missing_for_network(bool has_password, const EncryptionSettings& encryption) {
  std::vector<std::string> missing;
  if (!has_password) missing.push_back("a password (VARROW_PASSWORD or --password-file)");
  if (!encryption.tls) missing.push_back("--tls-cert and --tls-key");
  if (encryption.mode != Encryption::Required) missing.push_back("--encryption required");
  std::string text;
  for (const std::string& m : missing)
    text += (text.empty() ? "" : ", ") + m;
  return text;
}

std::string encryption_offered(const EncryptionSettings& encryption) {
  switch (encryption.mode) {
    case Encryption::Off:
      return "encryption off: no TLS, logins and data travel in clear";
    case Encryption::Optional:
      return "encryption optional: TLS 1.2/1.3 for clients that ask for it, clear for those "
             "that cannot encrypt; certificate " +
             encryption.tls->summary();
    case Encryption::Required:
      break;
  }
  return "encryption required: TLS 1.2/1.3 on every connection, TDS 7.x and TDS 8.0; "
         "certificate " +
         encryption.tls->summary();
}

}  // namespace varrow::host::tds
