// trust-root-ca add|remove CERT.der: puts a certificate authority into the machine's "Root"
// store, or takes it out again, the way a company installs its own CA on Windows. Tests use
// it to make their throw-away TLS server trusted for one run.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace {

struct StoreCloser {
    void operator()(HCERTSTORE store) const { ::CertCloseStore(store, 0); }
};
struct ContextFreer {
    void operator()(PCCERT_CONTEXT context) const { ::CertFreeCertificateContext(context); }
};

int Fail(const char* what) {
    std::fprintf(stderr, "trust-root-ca: %s failed, error %lu\n", what, ::GetLastError());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "add") != 0 && std::strcmp(argv[1], "remove") != 0)) {
        std::fprintf(stderr, "usage: trust-root-ca add|remove CERT.der\n");
        return 2;
    }
    std::ifstream file(argv[2], std::ios::binary);
    std::vector<BYTE> der((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (der.empty()) {
        std::fprintf(stderr, "trust-root-ca: cannot read %s\n", argv[2]);
        return 2;
    }
    // The machine's own "Root" certificates, in the registry. (Wine's whole "Root" store also
    // holds the host's certificates, and a delete through it does not last.)
    HCERTSTORE opened =
        ::CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (opened == nullptr) return Fail("CertOpenStore");
    std::unique_ptr<void, StoreCloser> store(opened);
    if (std::strcmp(argv[1], "add") == 0) {
        if (!::CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(),
                                                static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                nullptr)) {
            return Fail("CertAddEncodedCertificateToStore");
        }
        return 0;
    }
    PCCERT_CONTEXT created =
        ::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (created == nullptr) return Fail("CertCreateCertificateContext");
    std::unique_ptr<const CERT_CONTEXT, ContextFreer> wanted(created);
    PCCERT_CONTEXT found =
        ::CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted.get(), nullptr);
    if (found == nullptr) return 0;  // not there: nothing to take out
    // Deleting frees the found context, whatever the result.
    if (!::CertDeleteCertificateFromStore(found)) return Fail("CertDeleteCertificateFromStore");
    return 0;
}
