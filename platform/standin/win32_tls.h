// SSPI with the SChannel package and the certificate chain checks, as
// standin_tls.cpp implements them.
#ifndef KIVVET_PLATFORM_STANDIN_WIN32_TLS_H
#define KIVVET_PLATFORM_STANDIN_WIN32_TLS_H

#include "platform/standin/win32_core.h"

// ---- TLS: SSPI with the SChannel package, and certificate chains ----------------
//
// The stand-in's SChannel speaks a toy protocol with the test's server
// (see standin_control.h): records shaped like TLS's, whose contents are
// merely masked, so the tests see what went in clear and what did not.

typedef uint32_t ULONG;  // 32 bits, as on Windows: the SSPI records keep their sizes
typedef LONG SECURITY_STATUS;
typedef char SEC_CHAR;
#define FAILED(status) ((HRESULT)(status) < 0)

typedef struct _SecHandle {
  ULONG_PTR dwLower;
  ULONG_PTR dwUpper;
} SecHandle, CredHandle, CtxtHandle, *PCredHandle, *PCtxtHandle;
typedef struct _TimeStamp {
  DWORD LowPart;
  LONG HighPart;
} TimeStamp, *PTimeStamp;

typedef struct _SecBuffer {
  ULONG cbBuffer;
  ULONG BufferType;
  void* pvBuffer;
} SecBuffer, *PSecBuffer;
typedef struct _SecBufferDesc {
  ULONG ulVersion;
  ULONG cBuffers;
  PSecBuffer pBuffers;
} SecBufferDesc, *PSecBufferDesc;
#define SECBUFFER_VERSION 0
#define SECBUFFER_EMPTY 0
#define SECBUFFER_DATA 1
#define SECBUFFER_TOKEN 2
#define SECBUFFER_EXTRA 5
#define SECBUFFER_STREAM_TRAILER 6
#define SECBUFFER_STREAM_HEADER 7

typedef struct _SecPkgContext_StreamSizes {
  ULONG cbHeader;
  ULONG cbTrailer;
  ULONG cbMaximumMessage;
  ULONG cBuffers;
  ULONG cbBlockSize;
} SecPkgContext_StreamSizes;
#define SECPKG_ATTR_STREAM_SIZES 4
#define SECPKG_ATTR_REMOTE_CERT_CONTEXT 0x53

#define SEC_E_OK ((SECURITY_STATUS)0x00000000)
#define SEC_I_CONTINUE_NEEDED ((SECURITY_STATUS)0x00090312)
#define SEC_I_CONTEXT_EXPIRED ((SECURITY_STATUS)0x00090317)
#define SEC_I_INCOMPLETE_CREDENTIALS ((SECURITY_STATUS)0x00090320)
#define SEC_I_RENEGOTIATE ((SECURITY_STATUS)0x00090321)
#define SEC_E_INVALID_HANDLE ((SECURITY_STATUS)0x80090301)
#define SEC_E_INVALID_TOKEN ((SECURITY_STATUS)0x80090308)
#define SEC_E_INCOMPLETE_MESSAGE ((SECURITY_STATUS)0x80090318)
#define SEC_E_ILLEGAL_MESSAGE ((SECURITY_STATUS)0x80090326)
#define SEC_E_DECRYPT_FAILURE ((SECURITY_STATUS)0x80090330)
#define SEC_E_NO_CREDENTIALS ((SECURITY_STATUS)0x8009030E)

#define SECPKG_CRED_OUTBOUND 0x00000002
#define ISC_REQ_REPLAY_DETECT 0x00000004
#define ISC_REQ_SEQUENCE_DETECT 0x00000008
#define ISC_REQ_CONFIDENTIALITY 0x00000010
#define ISC_REQ_ALLOCATE_MEMORY 0x00000100
#define ISC_REQ_STREAM 0x00008000
#define ISC_RET_REPLAY_DETECT 0x00000004
#define ISC_RET_SEQUENCE_DETECT 0x00000008
#define ISC_RET_CONFIDENTIALITY 0x00000010
#define ISC_RET_ALLOCATED_MEMORY 0x00000100
#define ISC_RET_STREAM 0x00008000

#define UNISP_NAME_A "Microsoft Unified Security Protocol Provider"
#define SCHANNEL_CRED_VERSION 0x00000004
#define SCH_CRED_MANUAL_CRED_VALIDATION 0x00000008
#define SCH_CRED_NO_DEFAULT_CREDS 0x00000010
#define SCH_USE_STRONG_CRYPTO 0x00400000
#define SP_PROT_TLS1_2_CLIENT 0x00000800
#define SP_PROT_TLS1_3_CLIENT 0x00002000
#define SCH_CREDENTIALS_VERSION 0x00000005
typedef void* HCERTSTORE;
typedef struct _SCHANNEL_CRED {
  DWORD dwVersion;
  DWORD cCreds;
  void* paCred;
  HCERTSTORE hRootStore;
  DWORD cMappers;
  void** aphMappers;
  DWORD cSupportedAlgs;
  void* palgSupportedAlgs;
  DWORD grbitEnabledProtocols;
  DWORD dwMinimumCipherStrength;
  DWORD dwMaximumCipherStrength;
  DWORD dwSessionLifespan;
  DWORD dwFlags;
  DWORD dwCredFormat;
} SCHANNEL_CRED;
// The newer request (Windows 10 1809 and later): the protocols are those
// not disabled. The pointers' types stand in for UNICODE_STRING and
// CRYPTO_SETTINGS arrays, which the program never fills.
typedef struct _TLS_PARAMETERS {
  DWORD cAlpnIds;
  void* rgstrAlpnIds;
  DWORD grbitDisabledProtocols;
  DWORD cDisabledCrypto;
  void* pDisabledCrypto;
  DWORD dwFlags;
} TLS_PARAMETERS;
typedef struct _SCH_CREDENTIALS {
  DWORD dwVersion;
  DWORD dwCredFormat;
  DWORD cCreds;
  void* paCred;
  HCERTSTORE hRootStore;
  DWORD cMappers;
  void** aphMappers;
  DWORD dwSessionLifespan;
  DWORD dwFlags;
  DWORD cTlsParameters;
  TLS_PARAMETERS* pTlsParameters;
} SCH_CREDENTIALS;

SECURITY_STATUS AcquireCredentialsHandleA(SEC_CHAR* principal, SEC_CHAR* package, ULONG use,
                                          void* logonId, void* authData, void* getKey,
                                          void* getKeyArgument, PCredHandle credential,
                                          PTimeStamp expiry);
SECURITY_STATUS FreeCredentialsHandle(PCredHandle credential);
SECURITY_STATUS InitializeSecurityContextA(PCredHandle credential, PCtxtHandle context,
                                           SEC_CHAR* targetName, ULONG request, ULONG reserved1,
                                           ULONG dataRepresentation, PSecBufferDesc input,
                                           ULONG reserved2, PCtxtHandle newContext,
                                           PSecBufferDesc output, ULONG* granted,
                                           PTimeStamp expiry);
SECURITY_STATUS DeleteSecurityContext(PCtxtHandle context);
SECURITY_STATUS FreeContextBuffer(void* buffer);
SECURITY_STATUS QueryContextAttributesA(PCtxtHandle context, ULONG attribute, void* buffer);
SECURITY_STATUS EncryptMessage(PCtxtHandle context, ULONG quality, PSecBufferDesc message,
                               ULONG sequence);
SECURITY_STATUS DecryptMessage(PCtxtHandle context, PSecBufferDesc message, ULONG sequence,
                               ULONG* quality);

typedef struct _CERT_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCertEncoded;
  DWORD cbCertEncoded;
  void* pCertInfo;
  HCERTSTORE hCertStore;
} CERT_CONTEXT;
typedef const CERT_CONTEXT* PCCERT_CONTEXT;
typedef struct _CERT_TRUST_STATUS {
  DWORD dwErrorStatus;
  DWORD dwInfoStatus;
} CERT_TRUST_STATUS;
#define CERT_TRUST_IS_REVOKED 0x00000004
#define CERT_TRUST_REVOCATION_STATUS_UNKNOWN 0x00000040
typedef struct _CERT_CHAIN_CONTEXT {
  DWORD cbSize;
  CERT_TRUST_STATUS TrustStatus;
} CERT_CHAIN_CONTEXT;
typedef const CERT_CHAIN_CONTEXT* PCCERT_CHAIN_CONTEXT;
typedef void* HCERTCHAINENGINE;
typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *LPFILETIME;
typedef struct _CERT_ENHKEY_USAGE {
  DWORD cUsageIdentifier;
  LPSTR* rgpszUsageIdentifier;
} CERT_ENHKEY_USAGE;
typedef struct _CERT_USAGE_MATCH {
  DWORD dwType;
  CERT_ENHKEY_USAGE Usage;
} CERT_USAGE_MATCH;
typedef struct _CERT_CHAIN_PARA {
  DWORD cbSize;
  CERT_USAGE_MATCH RequestedUsage;
  CERT_USAGE_MATCH RequestedIssuancePolicy;
  DWORD dwUrlRetrievalTimeout;
  BOOL fCheckRevocationFreshnessTime;
  DWORD dwRevocationFreshnessTime;
  LPFILETIME pftCacheResync;
  const void* pStrongSignPara;
  DWORD dwStrongSignFlags;
} CERT_CHAIN_PARA;
#define CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT 0x40000000
#define CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT 0x08000000
#define CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS 0x00000F00
#define SECURITY_FLAG_IGNORE_REVOCATION 0x00000080
#define USAGE_MATCH_TYPE_OR 1
#define szOID_PKIX_KP_SERVER_AUTH "1.3.6.1.5.5.7.3.1"
typedef struct _CERT_CHAIN_POLICY_PARA {
  DWORD cbSize;
  DWORD dwFlags;
  void* pvExtraPolicyPara;
} CERT_CHAIN_POLICY_PARA;
typedef struct _CERT_CHAIN_POLICY_STATUS {
  DWORD cbSize;
  DWORD dwError;
  LONG lChainIndex;
  LONG lElementIndex;
  void* pvExtraPolicyStatus;
} CERT_CHAIN_POLICY_STATUS;
typedef struct _HTTPSPolicyCallbackData {
  union {
    DWORD cbStruct;
    DWORD cbSize;
  };
  DWORD dwAuthType;
  DWORD fdwChecks;
  WCHAR* pwszServerName;
} SSL_EXTRA_CERT_CHAIN_POLICY_PARA;
#define AUTHTYPE_SERVER 2
#define CERT_CHAIN_POLICY_SSL ((LPCSTR)4)
#define CERT_E_EXPIRED ((HRESULT)0x800B0101)
#define CERT_E_UNTRUSTEDROOT ((HRESULT)0x800B0109)
#define CERT_E_CHAINING ((HRESULT)0x800B010A)
#define CERT_E_CN_NO_MATCH ((HRESULT)0x800B010F)
#define TRUST_E_CERT_SIGNATURE ((HRESULT)0x80096004)
#define CRYPT_E_REVOKED ((HRESULT)0x80092010)
#define CERT_E_REVOCATION_FAILURE ((HRESULT)0x800B010E)
#define CRYPT_E_NO_REVOCATION_CHECK ((HRESULT)0x80092012)
#define CRYPT_E_REVOCATION_OFFLINE ((HRESULT)0x80092013)

// Windows' data protection, bound to the user's account.
typedef struct _CRYPTOAPI_BLOB {
  DWORD cbData;
  BYTE* pbData;
} DATA_BLOB;
#define CRYPTPROTECT_UI_FORBIDDEN 0x1
BOOL CryptProtectData(DATA_BLOB* in, LPCWSTR description, DATA_BLOB* entropy, void* reserved,
                      void* prompt, DWORD flags, DATA_BLOB* out);
BOOL CryptUnprotectData(DATA_BLOB* in, LPWSTR* description, DATA_BLOB* entropy, void* reserved,
                        void* prompt, DWORD flags, DATA_BLOB* out);

BOOL CertGetCertificateChain(HCERTCHAINENGINE engine, PCCERT_CONTEXT certificate, LPFILETIME time,
                             HCERTSTORE additional, CERT_CHAIN_PARA* request, DWORD flags,
                             void* reserved, PCCERT_CHAIN_CONTEXT* chain);
BOOL CertVerifyCertificateChainPolicy(LPCSTR policy, PCCERT_CHAIN_CONTEXT chain,
                                      CERT_CHAIN_POLICY_PARA* request,
                                      CERT_CHAIN_POLICY_STATUS* status);
void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT chain);
BOOL CertFreeCertificateContext(PCCERT_CONTEXT certificate);

#endif
