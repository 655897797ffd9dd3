// A certificate authority made at test time with openssl, and server certificates it issues,
// for TLS peers on 127.0.0.1. Keys are P-256 and everything is valid for two days.
#pragma once

#include <string>

namespace sentorix::test
{

class TestAuthority
{
public:
    // Makes the authority's key and certificate in `folder` under the file stem `name`.
    bool create(const std::string& folder, const std::string& name);
    // Issues a server certificate and key for `altNames` (as openssl writes a
    // subjectAltName, e.g. "DNS:localhost,IP:127.0.0.1"); the files are `stem`.pem/.key.
    bool issue(const std::string& stem, const std::string& altNames, std::string& certFile,
               std::string& keyFile) const;

    std::string caFile; // the authority's certificate, PEM
private:
    std::string m_folder;
    std::string m_caKey;
};

} // namespace sentorix::test
