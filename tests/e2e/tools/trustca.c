/* Puts a test CA into, or takes it out of, the "Root" store of the Wine
 * prefix it runs in (the local machine's), so that certificates it signed
 * are trusted there and nowhere else.
 *
 *   trustca add FILE      FILE: the CA certificate, PEM or DER
 *   trustca remove FILE
 *   trustca check FILE    exit 0 when it is in the store, 1 when not
 *
 * Prints what crypt32 answered; exit 2 on any failure.
 */
#include <windows.h>
#include <wincrypt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static BYTE *readAll(const char *path, DWORD *size)
{
    FILE *f = fopen(path, "rb");
    BYTE *data;
    long len;
    if (!f) return NULL;
    fseek(f, 0, SEEK_END);
    len = ftell(f);
    fseek(f, 0, SEEK_SET);
    data = (BYTE *)malloc((size_t)len + 1);
    if (!data || fread(data, 1, (size_t)len, f) != (size_t)len) {
        fclose(f);
        free(data);
        return NULL;
    }
    fclose(f);
    data[len] = 0;
    *size = (DWORD)len;
    return data;
}

/* The DER bytes of a PEM or DER file. */
static BYTE *certificateDer(const char *path, DWORD *derSize)
{
    DWORD size = 0, need = 0;
    BYTE *data = readAll(path, &size), *der;
    if (!data) return NULL;
    if (size > 0 && data[0] == 0x30) {
        *derSize = size;
        return data;
    }
    if (!CryptStringToBinaryA((const char *)data, size, CRYPT_STRING_BASE64HEADER, NULL, &need, NULL, NULL)) {
        free(data);
        return NULL;
    }
    der = (BYTE *)malloc(need);
    if (!der || !CryptStringToBinaryA((const char *)data, size, CRYPT_STRING_BASE64HEADER, der, &need, NULL, NULL)) {
        free(data);
        free(der);
        return NULL;
    }
    free(data);
    *derSize = need;
    return der;
}

int main(int argc, char **argv)
{
    HCERTSTORE store;
    PCCERT_CONTEXT cert, found;
    BYTE *der;
    DWORD derSize = 0;
    int result = 2;

    if (argc != 3 || (strcmp(argv[1], "add") && strcmp(argv[1], "remove") && strcmp(argv[1], "check"))) {
        fprintf(stderr, "usage: trustca add|remove|check FILE\n");
        return 2;
    }
    der = certificateDer(argv[2], &derSize);
    if (!der) {
        printf("cannot read a certificate from %s\n", argv[2]);
        return 2;
    }
    cert = CertCreateCertificateContext(X509_ASN_ENCODING, der, derSize);
    if (!cert) {
        printf("CertCreateCertificateContext failed: 0x%08lx\n", (unsigned long)GetLastError());
        return 2;
    }
    store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
    if (!store) {
        printf("CertOpenStore(LOCAL_MACHINE, Root) failed: 0x%08lx\n", (unsigned long)GetLastError());
        return 2;
    }
    found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert, NULL);
    if (strcmp(argv[1], "check") == 0) {
        printf("%s\n", found ? "in the Root store" : "not in the Root store");
        result = found ? 0 : 1;
    } else if (strcmp(argv[1], "add") == 0) {
        if (CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, derSize,
                                             CERT_STORE_ADD_REPLACE_EXISTING, NULL)) {
            printf("added to the Root store\n");
            result = 0;
        } else {
            printf("CertAddEncodedCertificateToStore failed: 0x%08lx\n", (unsigned long)GetLastError());
        }
    } else {
        /* Wine answers a delete through the system store's collection with
         * success but keeps the copy it holds in the registry: delete from
         * the registry's own store. */
        HCERTSTORE registry = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_A, 0, 0,
                                            CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
        PCCERT_CONTEXT stored = registry ? CertFindCertificateInStore(registry, X509_ASN_ENCODING, 0,
                                                                      CERT_FIND_EXISTING, cert, NULL)
                                         : NULL;
        if (!registry) {
            printf("CertOpenStore(SYSTEM_REGISTRY, Root) failed: 0x%08lx\n", (unsigned long)GetLastError());
        } else if (!stored) {
            printf("not in the Root store\n");
            result = 0;
        } else if (CertDeleteCertificateFromStore(stored)) {
            printf("removed from the Root store\n");
            result = 0;
        } else {
            printf("CertDeleteCertificateFromStore failed: 0x%08lx\n", (unsigned long)GetLastError());
        }
        if (registry) CertCloseStore(registry, 0);
    }
    if (found) CertFreeCertificateContext(found);
    CertFreeCertificateContext(cert);
    CertCloseStore(store, 0);
    free(der);
    return result;
}
