/* A POP3-over-TLS client for the end-to-end tests, run under Wine: it
 * shows step by step what SChannel (through SSPI) and crypt32 answer, so
 * the tests can see what the program will meet.
 *
 *   tlsprobe [options] PORT
 *     --stls          greet in plain text and ask for STLS before the handshake
 *     --host NAME     the name to verify the certificate against (localhost)
 *     --tls12 / --tls13 / --tls1213
 *                     offer only these versions (default: SChannel's choice)
 *     --login USER PASS
 *                     after the greeting: USER, PASS, STAT, QUIT; sent only
 *                     when the certificate passed
 *     --quit          after the greeting: QUIT, whatever the certificate
 *     --auto          let SChannel check the certificate itself (no
 *                     SCH_CRED_MANUAL_CRED_VALIDATION), to see whether it does
 *
 * It connects to 127.0.0.1 only. Every SSPI and crypt32 status is printed
 * in hex; the last line is "result: verified", "result: rejected" or
 * "result: failed", and the exit code is 0, 1 or 2 accordingly.
 */
#define SECURITY_WIN32
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifndef SP_PROT_TLS1_3_CLIENT
#define SP_PROT_TLS1_3_CLIENT 0x00002000
#endif
#ifndef SECBUFFER_ALERT
#define SECBUFFER_ALERT 17
#endif

static SOCKET sock = INVALID_SOCKET;
static CredHandle cred;
static CtxtHandle ctx;
static int haveCtx = 0;
static unsigned char inbuf[65536];
static int inUsed = 0;
static char plain[65536];
static int plainUsed = 0;
static SecPkgContext_StreamSizes sizes;
static const char *host = "localhost";

static const char *statusName(SECURITY_STATUS s)
{
    switch ((unsigned long)s) {
    case 0x00000000: return "SEC_E_OK";
    case 0x00090312: return "SEC_I_CONTINUE_NEEDED";
    case 0x00090320: return "SEC_I_INCOMPLETE_CREDENTIALS";
    case 0x00090321: return "SEC_I_RENEGOTIATE";
    case 0x00090317: return "SEC_I_CONTEXT_EXPIRED";
    case 0x80090318: return "SEC_E_INCOMPLETE_MESSAGE";
    case 0x80090308: return "SEC_E_INVALID_TOKEN";
    case 0x80090326: return "SEC_E_ILLEGAL_MESSAGE";
    case 0x80090327: return "SEC_E_CERT_UNKNOWN";
    case 0x80090328: return "SEC_E_CERT_EXPIRED";
    case 0x80090322: return "SEC_E_WRONG_PRINCIPAL";
    case 0x80090325: return "SEC_E_UNTRUSTED_ROOT";
    case 0x80090330: return "SEC_E_DECRYPT_FAILURE";
    case 0x80090331: return "SEC_E_ALGORITHM_MISMATCH";
    case 0x80090304: return "SEC_E_INTERNAL_ERROR";
    case 0x8009030e: return "SEC_E_NO_CREDENTIALS";
    case 0x8009030d: return "SEC_E_UNKNOWN_CREDENTIALS";
    case 0x80090305: return "SEC_E_SECPKG_NOT_FOUND";
    case 0x80090311: return "SEC_E_NO_AUTHENTICATING_AUTHORITY";
    case 0x80090300: return "SEC_E_INSUFFICIENT_MEMORY";
    case 0x80090301: return "SEC_E_INVALID_HANDLE";
    case 0x80090302: return "SEC_E_UNSUPPORTED_FUNCTION";
    case 0x80090317: return "SEC_E_CONTEXT_EXPIRED";
    case 0x80090321: return "SEC_E_BUFFER_TOO_SMALL";
    default: return "?";
    }
}

static const char *chainErrorName(DWORD e)
{
    switch (e) {
    case 0: return "none";
    case 0x800B010F: return "CERT_E_CN_NO_MATCH";
    case 0x800B0109: return "CERT_E_UNTRUSTEDROOT";
    case 0x800B010A: return "CERT_E_CHAINING";
    case 0x800B0101: return "CERT_E_EXPIRED";
    case 0x800B010C: return "CERT_E_REVOKED";
    case 0x800B0110: return "CERT_E_WRONG_USAGE";
    case 0x800B0111: return "CERT_E_UNTRUSTEDCA";
    case 0x80096004: return "TRUST_E_CERT_SIGNATURE";
    case 0x80092012: return "CRYPT_E_NO_REVOCATION_CHECK";
    case 0x80092013: return "CRYPT_E_REVOCATION_OFFLINE";
    default: return "?";
    }
}

static void show(const char *what, SECURITY_STATUS s)
{
    printf("%s = 0x%08lx (%s)\n", what, (unsigned long)s, statusName(s));
    fflush(stdout);
}

static int sendAll(const void *data, int len)
{
    const char *p = (const char *)data;
    while (len > 0) {
        int n = send(sock, p, len, 0);
        if (n <= 0) {
            printf("send failed: WSA %d\n", WSAGetLastError());
            return 0;
        }
        p += n;
        len -= n;
    }
    return 1;
}

/* More raw bytes from the socket into inbuf; 0 at end or error. */
static int recvMore(void)
{
    int n;
    if (inUsed >= (int)sizeof inbuf) {
        printf("input buffer full\n");
        return 0;
    }
    n = recv(sock, (char *)inbuf + inUsed, (int)sizeof inbuf - inUsed, 0);
    if (n <= 0) {
        printf("recv: %s (WSA %d)\n", n == 0 ? "connection closed" : "error", n == 0 ? 0 : WSAGetLastError());
        fflush(stdout);
        return 0;
    }
    printf("recv %d bytes\n", n);
    fflush(stdout);
    inUsed += n;
    return 1;
}

/* One plain-text line before the handshake, read byte by byte so that
 * nothing of what follows is taken from the socket. */
static int plainLine(char *line, int size)
{
    int len = 0;
    for (;;) {
        char c;
        int n = recv(sock, &c, 1, 0);
        if (n <= 0) {
            printf("recv (plain): %s\n", n == 0 ? "connection closed" : "error");
            return 0;
        }
        if (c == '\n') break;
        if (c != '\r' && len < size - 1) line[len++] = c;
    }
    line[len] = 0;
    return 1;
}

static DWORD protocolsFromArg(const char *arg)
{
    if (strcmp(arg, "--tls12") == 0) return SP_PROT_TLS1_2_CLIENT;
    if (strcmp(arg, "--tls13") == 0) return SP_PROT_TLS1_3_CLIENT;
    if (strcmp(arg, "--tls1213") == 0) return SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
    return 0;
}

static const char *protocolName(DWORD p)
{
    if (p & SP_PROT_TLS1_3_CLIENT) return "TLS 1.3";
    if (p & SP_PROT_TLS1_2_CLIENT) return "TLS 1.2";
    if (p & SP_PROT_TLS1_1_CLIENT) return "TLS 1.1";
    if (p & SP_PROT_TLS1_0_CLIENT) return "TLS 1.0";
    return "?";
}

static const DWORD iscFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                              ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;

static int handshake(void)
{
    SecBuffer outBuf[1], inBufs[2];
    SecBufferDesc outDesc = { SECBUFFER_VERSION, 1, outBuf };
    SecBufferDesc inDesc = { SECBUFFER_VERSION, 2, inBufs };
    SECURITY_STATUS s;
    ULONG attrs = 0;
    int round = 1, needRead = 1;

    outBuf[0].BufferType = SECBUFFER_TOKEN;
    outBuf[0].pvBuffer = NULL;
    outBuf[0].cbBuffer = 0;
    s = InitializeSecurityContextA(&cred, NULL, (SEC_CHAR *)host, iscFlags, 0, 0, NULL, 0, &ctx, &outDesc,
                                   &attrs, NULL);
    haveCtx = 1;
    printf("InitializeSecurityContextA round %d = 0x%08lx (%s), token out %lu bytes\n", round,
           (unsigned long)s, statusName(s), outBuf[0].cbBuffer);
    if (outBuf[0].pvBuffer && outBuf[0].cbBuffer) {
        if (!sendAll(outBuf[0].pvBuffer, (int)outBuf[0].cbBuffer)) return 0;
        FreeContextBuffer(outBuf[0].pvBuffer);
    }
    while (s == SEC_I_CONTINUE_NEEDED || s == SEC_E_INCOMPLETE_MESSAGE) {
        if (needRead || inUsed == 0) {
            if (!recvMore()) return 0;
        }
        inBufs[0].BufferType = SECBUFFER_TOKEN;
        inBufs[0].pvBuffer = inbuf;
        inBufs[0].cbBuffer = (unsigned long)inUsed;
        inBufs[1].BufferType = SECBUFFER_EMPTY;
        inBufs[1].pvBuffer = NULL;
        inBufs[1].cbBuffer = 0;
        outBuf[0].BufferType = SECBUFFER_TOKEN;
        outBuf[0].pvBuffer = NULL;
        outBuf[0].cbBuffer = 0;
        round++;
        s = InitializeSecurityContextA(&cred, &ctx, (SEC_CHAR *)host, iscFlags, 0, 0, &inDesc, 0, NULL, &outDesc,
                                       &attrs, NULL);
        printf("InitializeSecurityContextA round %d (%d bytes in) = 0x%08lx (%s), token out %lu bytes, "
               "in[1] type %lu size %lu\n",
               round, inUsed, (unsigned long)s, statusName(s), outBuf[0].cbBuffer, inBufs[1].BufferType,
               inBufs[1].cbBuffer);
        fflush(stdout);
        if (outBuf[0].pvBuffer && outBuf[0].cbBuffer) {
            if (!sendAll(outBuf[0].pvBuffer, (int)outBuf[0].cbBuffer)) return 0;
        }
        if (outBuf[0].pvBuffer) FreeContextBuffer(outBuf[0].pvBuffer);
        if (s == SEC_E_INCOMPLETE_MESSAGE) {
            needRead = 1;
            continue;
        }
        if (inBufs[1].BufferType == SECBUFFER_EXTRA && inBufs[1].cbBuffer > 0) {
            int extra = (int)inBufs[1].cbBuffer;
            printf("SECBUFFER_EXTRA: %d bytes kept\n", extra);
            memmove(inbuf, inbuf + inUsed - extra, (size_t)extra);
            inUsed = extra;
            needRead = 0;
        } else {
            inUsed = 0;
            needRead = 1;
        }
    }
    printf("handshake rounds: %d, context attributes 0x%08lx\n", round, (unsigned long)attrs);
    return s == SEC_E_OK;
}

/* The chain of the server's certificate and the SSL policy with the host
 * name; returns 1 when both pass. */
static int verifyServer(void)
{
    PCCERT_CONTEXT remote = NULL;
    PCCERT_CHAIN_CONTEXT chain = NULL;
    SECURITY_STATUS s;
    char *usages[] = { (char *)szOID_PKIX_KP_SERVER_AUTH, (char *)szOID_SERVER_GATED_CRYPTO,
                       (char *)szOID_SGC_NETSCAPE };
    CERT_CHAIN_PARA para;
    HTTPSPolicyCallbackData https;
    CERT_CHAIN_POLICY_PARA policy;
    CERT_CHAIN_POLICY_STATUS status;
    WCHAR wideHost[256];
    char name[512];
    BOOL ok;
    int verdict;

    s = QueryContextAttributesA(&ctx, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote);
    show("QueryContextAttributesA(REMOTE_CERT_CONTEXT)", s);
    if (s != SEC_E_OK || !remote) return 0;
    CertNameToStrA(X509_ASN_ENCODING, &remote->pCertInfo->Subject, CERT_X500_NAME_STR, name, sizeof name);
    printf("server certificate subject: %s\n", name);
    CertNameToStrA(X509_ASN_ENCODING, &remote->pCertInfo->Issuer, CERT_X500_NAME_STR, name, sizeof name);
    printf("server certificate issuer: %s\n", name);
    printf("server certificate key algorithm: %s\n", remote->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId);

    memset(&para, 0, sizeof para);
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    para.RequestedUsage.Usage.cUsageIdentifier = 3;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    ok = CertGetCertificateChain(NULL, remote, NULL, remote->hCertStore, &para, 0, NULL, &chain);
    printf("CertGetCertificateChain = %d (GetLastError 0x%08lx)\n", ok, ok ? 0UL : (unsigned long)GetLastError());
    if (!ok) {
        CertFreeCertificateContext(remote);
        return 0;
    }
    printf("chain TrustStatus: dwErrorStatus 0x%08lx dwInfoStatus 0x%08lx, %lu simple chain(s), %lu element(s)\n",
           (unsigned long)chain->TrustStatus.dwErrorStatus, (unsigned long)chain->TrustStatus.dwInfoStatus,
           (unsigned long)chain->cChain, chain->cChain ? (unsigned long)chain->rgpChain[0]->cElement : 0UL);

    MultiByteToWideChar(CP_ACP, 0, host, -1, wideHost, 256);
    memset(&https, 0, sizeof https);
    https.cbStruct = sizeof https;
    https.dwAuthType = AUTHTYPE_SERVER;
    https.fdwChecks = 0;
    https.pwszServerName = wideHost;
    memset(&policy, 0, sizeof policy);
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &https;
    memset(&status, 0, sizeof status);
    status.cbSize = sizeof status;
    ok = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status);
    printf("CertVerifyCertificateChainPolicy(SSL, \"%s\") = %d, dwError 0x%08lx (%s), chain %ld element %ld\n", host,
           ok, (unsigned long)status.dwError, chainErrorName(status.dwError), (long)status.lChainIndex,
           (long)status.lElementIndex);
    fflush(stdout);
    CertFreeCertificateChain(chain);
    verdict = ok && status.dwError == 0;

    /* The same with revocation, as KivvetLE asks for it: the chain short of
     * its root, 3 s in all, unknown answers ignored by the policy. */
    para.dwUrlRetrievalTimeout = 3000;
    chain = NULL;
    ok = CertGetCertificateChain(NULL, remote, NULL, remote->hCertStore, &para,
                                 CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT |
                                     CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT,
                                 NULL, &chain);
    if (ok) {
        printf("with revocation: chain TrustStatus dwErrorStatus 0x%08lx dwInfoStatus 0x%08lx\n",
               (unsigned long)chain->TrustStatus.dwErrorStatus, (unsigned long)chain->TrustStatus.dwInfoStatus);
        policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
        memset(&status, 0, sizeof status);
        status.cbSize = sizeof status;
        ok = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status);
        printf("with revocation: policy (unknown ignored) = %d, dwError 0x%08lx (%s)\n", ok,
               (unsigned long)status.dwError, chainErrorName(status.dwError));
        https.fdwChecks = 0x80; /* SECURITY_FLAG_IGNORE_REVOCATION */
        memset(&status, 0, sizeof status);
        status.cbSize = sizeof status;
        ok = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status);
        printf("with revocation: policy (revocation ignored) = %d, dwError 0x%08lx (%s)\n", ok,
               (unsigned long)status.dwError, chainErrorName(status.dwError));
        CertFreeCertificateChain(chain);
    } else {
        printf("with revocation: CertGetCertificateChain failed (0x%08lx)\n", (unsigned long)GetLastError());
    }
    fflush(stdout);
    CertFreeCertificateContext(remote);
    return verdict;
}

/* Decrypts records until at least one whole line is in plain[]. */
static int readLine(char *line, int size)
{
    for (;;) {
        char *nl = memchr(plain, '\n', (size_t)plainUsed);
        if (nl) {
            int len = (int)(nl - plain);
            int copy = len;
            if (copy > 0 && plain[copy - 1] == '\r') copy--;
            if (copy > size - 1) copy = size - 1;
            memcpy(line, plain, (size_t)copy);
            line[copy] = 0;
            memmove(plain, nl + 1, (size_t)(plainUsed - len - 1));
            plainUsed -= len + 1;
            return 1;
        }
        if (inUsed == 0 && !recvMore()) return 0;
        {
            SecBuffer bufs[4];
            SecBufferDesc desc = { SECBUFFER_VERSION, 4, bufs };
            SECURITY_STATUS s;
            int i, extra = 0;
            bufs[0].BufferType = SECBUFFER_DATA;
            bufs[0].pvBuffer = inbuf;
            bufs[0].cbBuffer = (unsigned long)inUsed;
            for (i = 1; i < 4; i++) {
                bufs[i].BufferType = SECBUFFER_EMPTY;
                bufs[i].pvBuffer = NULL;
                bufs[i].cbBuffer = 0;
            }
            s = DecryptMessage(&ctx, &desc, 0, NULL);
            printf("DecryptMessage (%d bytes in) = 0x%08lx (%s);", inUsed, (unsigned long)s, statusName(s));
            for (i = 0; i < 4; i++) printf(" [%d] type %lu size %lu", i, bufs[i].BufferType, bufs[i].cbBuffer);
            printf("\n");
            fflush(stdout);
            if (s == SEC_E_INCOMPLETE_MESSAGE) {
                if (!recvMore()) return 0;
                continue;
            }
            if (s != SEC_E_OK && s != SEC_I_RENEGOTIATE && s != SEC_I_CONTEXT_EXPIRED) return 0;
            for (i = 1; i < 4; i++) {
                if (bufs[i].BufferType == SECBUFFER_DATA && bufs[i].cbBuffer) {
                    memcpy(plain + plainUsed, bufs[i].pvBuffer, bufs[i].cbBuffer);
                    plainUsed += (int)bufs[i].cbBuffer;
                }
                if (bufs[i].BufferType == SECBUFFER_EXTRA) extra = (int)bufs[i].cbBuffer;
            }
            if (extra) {
                memmove(inbuf, inbuf + inUsed - extra, (size_t)extra);
                inUsed = extra;
            } else {
                inUsed = 0;
            }
            if (s == SEC_I_CONTEXT_EXPIRED) {
                printf("the server closed the TLS session (close_notify)\n");
                return 0;
            }
            if (s == SEC_I_RENEGOTIATE) {
                /* A post-handshake message (a TLS 1.3 session ticket or a key
                 * update): give SChannel what follows, as a token. */
                SecBuffer in2[2], out2[1];
                SecBufferDesc inDesc = { SECBUFFER_VERSION, 2, in2 };
                SecBufferDesc outDesc = { SECBUFFER_VERSION, 1, out2 };
                ULONG attrs = 0;
                in2[0].BufferType = SECBUFFER_TOKEN;
                in2[0].pvBuffer = inbuf;
                in2[0].cbBuffer = (unsigned long)inUsed;
                in2[1].BufferType = SECBUFFER_EMPTY;
                in2[1].pvBuffer = NULL;
                in2[1].cbBuffer = 0;
                out2[0].BufferType = SECBUFFER_TOKEN;
                out2[0].pvBuffer = NULL;
                out2[0].cbBuffer = 0;
                s = InitializeSecurityContextA(&cred, &ctx, (SEC_CHAR *)host, iscFlags, 0, 0, &inDesc, 0, NULL,
                                               &outDesc, &attrs, NULL);
                printf("after SEC_I_RENEGOTIATE: InitializeSecurityContextA (%d bytes in) = 0x%08lx (%s), "
                       "token out %lu, in[1] type %lu size %lu\n",
                       inUsed, (unsigned long)s, statusName(s), out2[0].cbBuffer, in2[1].BufferType,
                       in2[1].cbBuffer);
                if (out2[0].pvBuffer) {
                    if (out2[0].cbBuffer) sendAll(out2[0].pvBuffer, (int)out2[0].cbBuffer);
                    FreeContextBuffer(out2[0].pvBuffer);
                }
                if (in2[1].BufferType == SECBUFFER_EXTRA && in2[1].cbBuffer) {
                    int keep = (int)in2[1].cbBuffer;
                    memmove(inbuf, inbuf + inUsed - keep, (size_t)keep);
                    inUsed = keep;
                } else if (s == SEC_E_OK) {
                    inUsed = 0;
                }
                if (s != SEC_E_OK) return 0;
            }
        }
    }
}

static int sendLine(const char *text)
{
    static char record[65536];
    SecBuffer bufs[4];
    SecBufferDesc desc = { SECBUFFER_VERSION, 4, bufs };
    SECURITY_STATUS s;
    int len = (int)strlen(text);
    memcpy(record + sizes.cbHeader, text, (size_t)len);
    memcpy(record + sizes.cbHeader + len, "\r\n", 2);
    len += 2;
    bufs[0].BufferType = SECBUFFER_STREAM_HEADER;
    bufs[0].pvBuffer = record;
    bufs[0].cbBuffer = sizes.cbHeader;
    bufs[1].BufferType = SECBUFFER_DATA;
    bufs[1].pvBuffer = record + sizes.cbHeader;
    bufs[1].cbBuffer = (unsigned long)len;
    bufs[2].BufferType = SECBUFFER_STREAM_TRAILER;
    bufs[2].pvBuffer = record + sizes.cbHeader + len;
    bufs[2].cbBuffer = sizes.cbTrailer;
    bufs[3].BufferType = SECBUFFER_EMPTY;
    bufs[3].pvBuffer = NULL;
    bufs[3].cbBuffer = 0;
    s = EncryptMessage(&ctx, 0, &desc, 0);
    printf("EncryptMessage(%.4s...) = 0x%08lx (%s), %lu+%lu+%lu bytes\n", text, (unsigned long)s, statusName(s),
           bufs[0].cbBuffer, bufs[1].cbBuffer, bufs[2].cbBuffer);
    if (s != SEC_E_OK) return 0;
    return sendAll(record, (int)(bufs[0].cbBuffer + bufs[1].cbBuffer + bufs[2].cbBuffer));
}

static int command(const char *text)
{
    char line[1024];
    if (!sendLine(text)) return 0;
    if (!readLine(line, sizeof line)) return 0;
    printf("reply: %s\n", line);
    return line[0] == '+';
}

int main(int argc, char **argv)
{
    WSADATA wsa;
    struct sockaddr_in addr;
    SCHANNEL_CRED sc;
    SECURITY_STATUS s;
    TimeStamp expiry;
    SecPkgContext_ConnectionInfo info;
    char line[1024];
    int port = 0, stls = 0, quit = 0, autoCheck = 0, verified, i;
    const char *user = NULL, *pass = NULL;
    DWORD protocols = 0;

    for (i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--stls") == 0) stls = 1;
        else if (strcmp(argv[i], "--quit") == 0) quit = 1;
        else if (strcmp(argv[i], "--auto") == 0) autoCheck = 1;
        else if (strcmp(argv[i], "--host") == 0 && i + 1 < argc) host = argv[++i];
        else if (strcmp(argv[i], "--login") == 0 && i + 2 < argc) {
            user = argv[++i];
            pass = argv[++i];
        } else if (protocolsFromArg(argv[i])) protocols = protocolsFromArg(argv[i]);
        else port = atoi(argv[i]);
    }
    if (port <= 0 || port > 65535) {
        fprintf(stderr, "usage: tlsprobe [--stls] [--host NAME] [--tls12|--tls13|--tls1213] "
                        "[--auto] [--login USER PASS | --quit] PORT\n");
        return 2;
    }
    setvbuf(stdout, NULL, _IONBF, 0);

    WSAStartup(MAKEWORD(2, 2), &wsa);
    sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons((unsigned short)port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(sock, (struct sockaddr *)&addr, sizeof addr) != 0) {
        printf("connect to 127.0.0.1:%d failed: WSA %d\nresult: failed\n", port, WSAGetLastError());
        return 2;
    }
    printf("connected to 127.0.0.1:%d\n", port);

    if (stls) {
        if (!plainLine(line, sizeof line)) goto failed;
        printf("plain greeting: %s\n", line);
        if (!sendAll("STLS\r\n", 6)) goto failed;
        if (!plainLine(line, sizeof line)) goto failed;
        printf("STLS reply: %s\n", line);
        if (line[0] != '+') goto failed;
    }

    memset(&sc, 0, sizeof sc);
    sc.dwVersion = SCHANNEL_CRED_VERSION;
    sc.grbitEnabledProtocols = protocols;
    sc.dwFlags = (autoCheck ? SCH_CRED_AUTO_CRED_VALIDATION : SCH_CRED_MANUAL_CRED_VALIDATION) |
                 SCH_CRED_NO_DEFAULT_CREDS;
    s = AcquireCredentialsHandleA(NULL, (SEC_CHAR *)UNISP_NAME_A, SECPKG_CRED_OUTBOUND, NULL, &sc, NULL, NULL,
                                  &cred, &expiry);
    printf("AcquireCredentialsHandleA(protocols 0x%08lx) = 0x%08lx (%s)\n", (unsigned long)protocols,
           (unsigned long)s, statusName(s));
    if (s != SEC_E_OK) goto failed;
    if (!handshake()) goto failed;

    s = QueryContextAttributesA(&ctx, SECPKG_ATTR_CONNECTION_INFO, &info);
    show("QueryContextAttributesA(CONNECTION_INFO)", s);
    if (s == SEC_E_OK)
        printf("protocol: 0x%08lx (%s), cipher alg 0x%x (%lu bits), hash alg 0x%x, exchange alg 0x%x (%lu bits)\n",
               (unsigned long)info.dwProtocol, protocolName(info.dwProtocol), info.aiCipher,
               (unsigned long)info.dwCipherStrength, info.aiHash, info.aiExch, (unsigned long)info.dwExchStrength);
    s = QueryContextAttributesA(&ctx, SECPKG_ATTR_STREAM_SIZES, &sizes);
    show("QueryContextAttributesA(STREAM_SIZES)", s);
    if (s != SEC_E_OK) goto failed;
    printf("stream sizes: header %lu, trailer %lu, max message %lu, buffers %lu, block %lu\n",
           (unsigned long)sizes.cbHeader, (unsigned long)sizes.cbTrailer, (unsigned long)sizes.cbMaximumMessage,
           (unsigned long)sizes.cBuffers, (unsigned long)sizes.cbBlockSize);

    verified = verifyServer();
    printf("certificate: %s\n", verified ? "verified" : "REJECTED");

    if (!stls || user || quit) {
        if (!stls) {
            if (!readLine(line, sizeof line)) goto failed;
            printf("greeting: %s\n", line);
        }
    }
    if (stls && !user && !quit) {
        /* After STLS the server says nothing until asked: ask for its
         * capabilities to see a first decrypted reply. */
        if (!sendLine("NOOP") || !readLine(line, sizeof line)) goto failed;
        printf("first decrypted reply: %s\n", line);
    }
    if (user && verified) {
        char cmd[300];
        snprintf(cmd, sizeof cmd, "USER %s", user);
        if (command(cmd)) {
            snprintf(cmd, sizeof cmd, "PASS %s", pass);
            if (command(cmd)) command("STAT");
        }
        command("QUIT");
    } else if (quit || user) {
        command("QUIT");
    }
    closesocket(sock);
    printf("result: %s\n", verified ? "verified" : "rejected");
    return verified ? 0 : 1;

failed:
    closesocket(sock);
    printf("result: failed\n");
    return 2;
}
