// SChannel's client side for the toy TLS of standin_control.h, and the
// certificate chain checks. The certificate travels in the server's
// finish, so the test's server decides what the program will find: its
// name, whether its root is trusted, whether it has expired.
#include <stdlib.h>
#include <string.h>

#include <set>

#include "platform/standin/standin_world.h"

namespace standin {

namespace {

const size_t HEADER = 5;
const size_t TRAILER = 16;
const size_t MAX_TEXT = 16384;
const char TRAILER_BYTES[] = "0123456789abcdef";

struct Certificate {
  std::string name;
  bool trusted;
  bool expired;
  bool revoked = false;
  bool revocationOffline = false;
  ULONG withheld = 0;
  std::string encoded;  // what the server sent: equal text, equal certificate
};

// A chain carries its certificate's facts behind the public head.
struct Chain {
  CERT_CHAIN_CONTEXT head;
  Certificate facts;
};

enum ContextState { AwaitHello, AwaitFinish, Open };

struct Context {
  ContextState state = AwaitHello;
  bool credentialsAsked = false;
  ULONG_PTR credentials = 0;
  std::string target;
  bool offersSession = false;
  Certificate certificate;
};

std::map<ULONG_PTR, Context> contexts;
// Each credentials handle keeps the sessions made with it, by target.
std::map<ULONG_PTR, std::set<std::string>> credentials;
ULONG_PTR nextHandle = 0x7000;
// What the program was handed and must give back.
std::set<const void*> tokens, certificates, chains;
int credentialsFailing = 0;
bool schCredentialsKnown = true;
DWORD credentialVersion = 0;
int resumptions = 0;
bool wineRevocation = false;
DWORD credentialFlags = 0;
DWORD credentialProtocols = 0;
DWORD chainFlags = 0;
DWORD chainTimeout = 0;
std::string windowsAccount = "cat";

// What SChannel grants of what was asked, as Windows reports it.
const ULONG GRANTABLE = ISC_RET_REPLAY_DETECT | ISC_RET_SEQUENCE_DETECT | ISC_RET_CONFIDENTIALITY |
                        ISC_RET_ALLOCATED_MEMORY | ISC_RET_STREAM;

Context* contextOf(PCtxtHandle handle) {
  if (!handle) return nullptr;
  auto found = contexts.find(handle->dwLower);
  return found == contexts.end() ? nullptr : &found->second;
}

void* handOut(const std::string& bytes) {
  char* copy = (char*)malloc(bytes.size());
  memcpy(copy, bytes.data(), bytes.size());
  tokens.insert(copy);
  return copy;
}

void setToken(PSecBufferDesc output, const std::string& record) {
  if (!output || output->cBuffers < 1) return;
  output->pBuffers[0].BufferType = SECBUFFER_TOKEN;
  output->pBuffers[0].cbBuffer = (ULONG)record.size();
  output->pBuffers[0].pvBuffer = handOut(record);
}

void setExtra(PSecBufferDesc input, size_t left) {
  if (input->cBuffers < 2) return;
  input->pBuffers[1].BufferType = left ? SECBUFFER_EXTRA : SECBUFFER_EMPTY;
  input->pBuffers[1].cbBuffer = (ULONG)left;
}

// "server-finished name=<name> trusted=<0|1> expired=<0|1>" and, when
// given, " revoked=<0|1> offline=<0|1> withheld=<flags>". False for flags
// that are no number: a message SChannel would refuse as malformed.
bool certificateIn(const std::string& finish, Certificate* read) {
  Certificate& certificate = *read;
  certificate.trusted = certificate.expired = false;
  size_t name = finish.find("name="), trusted = finish.find(" trusted="),
         expired = finish.find(" expired=");
  if (name == std::string::npos || trusted == std::string::npos || expired == std::string::npos)
    return true;
  certificate.name = finish.substr(name + 5, trusted - name - 5);
  certificate.trusted = finish.compare(trusted + 9, 1, "1") == 0;
  certificate.expired = finish.compare(expired + 9, 1, "1") == 0;
  certificate.revoked = finish.find(" revoked=1") != std::string::npos;
  certificate.revocationOffline = finish.find(" offline=1") != std::string::npos;
  size_t withheld = finish.find(" withheld=");
  if (withheld != std::string::npos) {
    const char* flags = finish.c_str() + withheld + 10;
    if (*flags < '0' || *flags > '9') return false;
    certificate.withheld = (ULONG)strtoul(flags, nullptr, 10);
  }
  certificate.encoded =
      finish.substr(name, withheld == std::string::npos ? std::string::npos : withheld - name);
  return true;
}

// A header no TLS record has, as soon as its first bytes show it.
bool notTls(const std::string& bytes) {
  if (bytes.empty()) return false;
  unsigned char type = (unsigned char)bytes[0];
  return type < 0x14 || type > 0x17 || (bytes.size() > 1 && bytes[1] != 0x03);
}

}  // namespace

std::string tlsRecord(int type, const std::string& body) {
  std::string record;
  record += (char)type;
  record += "\x03\x03";
  record += (char)((body.size() >> 8) & 0xFF);
  record += (char)(body.size() & 0xFF);
  return record + body;
}

std::string maskTlsText(const std::string& text) {
  std::string masked = text;
  for (char& c : masked) c = (char)(c ^ 0x5A);
  return masked;
}

std::string tlsDataRecord(const std::string& text) {
  return tlsRecord(0x17, maskTlsText(text) + std::string(TRAILER_BYTES, TRAILER));
}

bool takeTlsRecord(const std::string& bytes, int* type, std::string* body, size_t* length) {
  if (bytes.size() < HEADER) return false;
  size_t size = ((size_t)(unsigned char)bytes[3] << 8) | (unsigned char)bytes[4];
  if (bytes.size() < HEADER + size) return false;
  *type = (unsigned char)bytes[0];
  *body = bytes.substr(HEADER, size);
  *length = HEADER + size;
  return true;
}

void failCredentials(int count) { credentialsFailing = count; }
void setSchCredentialsKnown(bool known) { schCredentialsKnown = known; }
DWORD lastCredentialVersion() { return credentialVersion; }
int resumedHandshakes() { return resumptions; }
void answerRevocationAsWine() { wineRevocation = true; }
DWORD lastCredentialFlags() { return credentialFlags; }
DWORD lastCredentialProtocols() { return credentialProtocols; }
DWORD lastChainFlags() { return chainFlags; }
DWORD lastChainTimeout() { return chainTimeout; }
void setWindowsAccount(const std::string& account) { windowsAccount = account; }
int liveTlsObjects() {
  return (int)(contexts.size() + credentials.size() + tokens.size() + certificates.size() +
               chains.size());
}

void resetTls() {
  contexts.clear();
  credentials.clear();
  for (const void* p : tokens) free((void*)p);
  for (const void* p : certificates) {
    delete (Certificate*)((const CERT_CONTEXT*)p)->pCertInfo;
    delete (const CERT_CONTEXT*)p;
  }
  for (const void* p : chains) delete (const Chain*)p;
  tokens.clear();
  certificates.clear();
  chains.clear();
  credentialsFailing = 0;
  wineRevocation = false;
  schCredentialsKnown = true;
  resumptions = 0;
  credentialFlags = credentialProtocols = chainFlags = chainTimeout = credentialVersion = 0;
  windowsAccount = "cat";
}

}  // namespace standin

using standin::record;
using standin::recording;

SECURITY_STATUS AcquireCredentialsHandleA(SEC_CHAR*, SEC_CHAR* package, ULONG use, void*,
                                          void* authData, void*, void*, PCredHandle credential,
                                          PTimeStamp) {
  if (recording()) record("AcquireCredentialsHandleA");
  DWORD version = authData ? *(const DWORD*)authData : 0;
  bool known = version == SCHANNEL_CRED_VERSION ||
               (version == SCH_CREDENTIALS_VERSION && standin::schCredentialsKnown);
  if (standin::credentialsFailing > 0 || !package || strcmp(package, UNISP_NAME_A) != 0 ||
      use != SECPKG_CRED_OUTBOUND || !known) {
    if (standin::credentialsFailing > 0) standin::credentialsFailing--;
    return SEC_E_NO_CREDENTIALS;
  }
  if (version == SCHANNEL_CRED_VERSION) {
    const SCHANNEL_CRED* request = (const SCHANNEL_CRED*)authData;
    standin::credentialFlags = request->dwFlags;
    standin::credentialProtocols = request->grbitEnabledProtocols;
  } else {
    // Windows takes at most 16 parameter sets, and none it cannot read.
    const SCH_CREDENTIALS* request = (const SCH_CREDENTIALS*)authData;
    if (request->cTlsParameters > 16 || (request->cTlsParameters > 0 && !request->pTlsParameters))
      return SEC_E_NO_CREDENTIALS;
    DWORD disabled = 0;
    for (DWORD i = 0; i < request->cTlsParameters; i++)
      disabled |= request->pTlsParameters[i].grbitDisabledProtocols;
    standin::credentialFlags = request->dwFlags;
    standin::credentialProtocols = (SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT) & ~disabled;
  }
  standin::credentialVersion = version;
  credential->dwLower = standin::nextHandle++;
  credential->dwUpper = 0;
  standin::credentials[credential->dwLower];
  return SEC_E_OK;
}

SECURITY_STATUS FreeCredentialsHandle(PCredHandle credential) {
  if (!credential || standin::credentials.erase(credential->dwLower) == 0)
    return SEC_E_INVALID_HANDLE;
  return SEC_E_OK;
}

SECURITY_STATUS InitializeSecurityContextA(PCredHandle credential, PCtxtHandle context,
                                           SEC_CHAR* target, ULONG request, ULONG, ULONG,
                                           PSecBufferDesc input, ULONG, PCtxtHandle newContext,
                                           PSecBufferDesc output, ULONG* granted, PTimeStamp) {
  if (!credential || !standin::credentials.count(credential->dwLower)) return SEC_E_INVALID_HANDLE;
  if (granted) *granted = request & standin::GRANTABLE;
  if (!context) {
    if (recording()) record("InitializeSecurityContextA(hello)");
    newContext->dwLower = standin::nextHandle++;
    newContext->dwUpper = 0;
    standin::Context& fresh = standin::contexts[newContext->dwLower];
    fresh = standin::Context();
    fresh.credentials = credential->dwLower;
    fresh.target = target ? target : "";
    fresh.offersSession = standin::credentials[credential->dwLower].count(fresh.target) > 0;
    standin::setToken(output, standin::tlsRecord(0x16, "client-hello " + fresh.target +
                                                           (fresh.offersSession ? " resume" : "")));
    return SEC_I_CONTINUE_NEEDED;
  }
  standin::Context* state = standin::contextOf(context);
  if (!state) return SEC_E_INVALID_HANDLE;
  if (!input || input->cBuffers < 1 || input->pBuffers[0].BufferType != SECBUFFER_TOKEN)
    return SEC_E_INVALID_TOKEN;
  std::string bytes((const char*)input->pBuffers[0].pvBuffer, input->pBuffers[0].cbBuffer);
  int type;
  std::string body;
  size_t length;
  if (standin::notTls(bytes)) return SEC_E_ILLEGAL_MESSAGE;
  if (!standin::takeTlsRecord(bytes, &type, &body, &length)) return SEC_E_INCOMPLETE_MESSAGE;
  if (recording()) record("InitializeSecurityContextA(" + body.substr(0, body.find(' ')) + ")");
  if (type != 0x16) return SEC_E_ILLEGAL_MESSAGE;

  if (state->state == standin::AwaitHello && body == "server-hello resumed") {
    if (!state->offersSession) return SEC_E_ILLEGAL_MESSAGE;
    standin::resumptions++;
    state->state = standin::AwaitFinish;
    standin::setExtra(input, bytes.size() - length);
    return SEC_I_CONTINUE_NEEDED;
  }
  if (state->state == standin::AwaitHello && body.compare(0, 12, "server-hello") == 0) {
    if (body.find("certificate-request") != std::string::npos && !state->credentialsAsked) {
      state->credentialsAsked = true;
      return SEC_I_INCOMPLETE_CREDENTIALS;
    }
    state->state = standin::AwaitFinish;
    standin::setExtra(input, bytes.size() - length);
    standin::setToken(output, standin::tlsRecord(0x16, "client-key"));
    return SEC_I_CONTINUE_NEEDED;
  }
  // A finish inside an open channel is a renegotiation: the server may
  // show another certificate.
  if ((state->state == standin::AwaitFinish || state->state == standin::Open) &&
      body.compare(0, 15, "server-finished") == 0) {
    standin::Certificate certificate;
    if (!standin::certificateIn(body, &certificate)) return SEC_E_ILLEGAL_MESSAGE;
    state->state = standin::Open;
    state->certificate = certificate;
    auto sessions = standin::credentials.find(state->credentials);
    if (sessions != standin::credentials.end()) sessions->second.insert(state->target);
    if (granted) *granted &= ~state->certificate.withheld;
    standin::setExtra(input, bytes.size() - length);
    return SEC_E_OK;
  }
  if (state->state == standin::Open && body == "ticket") {
    standin::setExtra(input, bytes.size() - length);
    return SEC_E_OK;
  }
  return SEC_E_ILLEGAL_MESSAGE;
}

SECURITY_STATUS DeleteSecurityContext(PCtxtHandle context) {
  if (!context || standin::contexts.erase(context->dwLower) == 0) return SEC_E_INVALID_HANDLE;
  return SEC_E_OK;
}

SECURITY_STATUS FreeContextBuffer(void* buffer) {
  if (standin::tokens.erase(buffer) == 0) return SEC_E_INVALID_HANDLE;
  free(buffer);
  return SEC_E_OK;
}

SECURITY_STATUS QueryContextAttributesA(PCtxtHandle context, ULONG attribute, void* buffer) {
  standin::Context* state = standin::contextOf(context);
  if (!state || state->state != standin::Open) return SEC_E_INVALID_HANDLE;
  if (attribute == SECPKG_ATTR_STREAM_SIZES) {
    SecPkgContext_StreamSizes* sizes = (SecPkgContext_StreamSizes*)buffer;
    sizes->cbHeader = standin::HEADER;
    sizes->cbTrailer = standin::TRAILER;
    sizes->cbMaximumMessage = standin::MAX_TEXT;
    sizes->cBuffers = 4;
    sizes->cbBlockSize = 16;
    return SEC_E_OK;
  }
  if (attribute == SECPKG_ATTR_REMOTE_CERT_CONTEXT) {
    CERT_CONTEXT* certificate = new CERT_CONTEXT();
    standin::Certificate* facts = new standin::Certificate(state->certificate);
    certificate->pCertInfo = facts;
    certificate->pbCertEncoded = (BYTE*)facts->encoded.data();
    certificate->cbCertEncoded = (DWORD)facts->encoded.size();
    standin::certificates.insert(certificate);
    *(PCCERT_CONTEXT*)buffer = certificate;
    return SEC_E_OK;
  }
  return SEC_E_INVALID_TOKEN;
}

SECURITY_STATUS EncryptMessage(PCtxtHandle context, ULONG, PSecBufferDesc message, ULONG) {
  standin::Context* state = standin::contextOf(context);
  if (!state || state->state != standin::Open) return SEC_E_INVALID_HANDLE;
  if (!message || message->cBuffers < 3) return SEC_E_INVALID_TOKEN;
  SecBuffer* b = message->pBuffers;
  if (b[0].BufferType != SECBUFFER_STREAM_HEADER || b[0].cbBuffer != standin::HEADER ||
      b[1].BufferType != SECBUFFER_DATA || b[1].cbBuffer > standin::MAX_TEXT ||
      b[2].BufferType != SECBUFFER_STREAM_TRAILER || b[2].cbBuffer != standin::TRAILER)
    return SEC_E_INVALID_TOKEN;
  std::string text((const char*)b[1].pvBuffer, b[1].cbBuffer);
  std::string recordBytes = standin::tlsDataRecord(text);
  memcpy(b[0].pvBuffer, recordBytes.data(), standin::HEADER);
  memcpy(b[1].pvBuffer, recordBytes.data() + standin::HEADER, text.size());
  memcpy(b[2].pvBuffer, recordBytes.data() + standin::HEADER + text.size(), standin::TRAILER);
  return SEC_E_OK;
}

SECURITY_STATUS DecryptMessage(PCtxtHandle context, PSecBufferDesc message, ULONG, ULONG*) {
  standin::Context* state = standin::contextOf(context);
  if (!state || state->state != standin::Open) return SEC_E_INVALID_HANDLE;
  if (!message || message->cBuffers < 4 || message->pBuffers[0].BufferType != SECBUFFER_DATA)
    return SEC_E_INVALID_TOKEN;
  SecBuffer* b = message->pBuffers;
  char* start = (char*)b[0].pvBuffer;
  std::string bytes(start, b[0].cbBuffer);
  int type;
  std::string body;
  size_t length;
  if (standin::notTls(bytes)) return SEC_E_DECRYPT_FAILURE;
  if (!standin::takeTlsRecord(bytes, &type, &body, &length)) return SEC_E_INCOMPLETE_MESSAGE;
  size_t left = bytes.size() - length;
  if (type == 0x15) return SEC_I_CONTEXT_EXPIRED;
  if (type == 0x16) {
    // Handshake data inside the channel: all of it goes back as extra.
    b[0] = {0, SECBUFFER_STREAM_HEADER, start};
    b[1] = {0, SECBUFFER_DATA, start};
    b[2] = {0, SECBUFFER_STREAM_TRAILER, start};
    b[3] = {(ULONG)bytes.size(), SECBUFFER_EXTRA, start};
    return SEC_I_RENEGOTIATE;
  }
  if (type != 0x17 || body.size() < standin::TRAILER ||
      body.compare(body.size() - standin::TRAILER, standin::TRAILER, standin::TRAILER_BYTES) != 0)
    return SEC_E_DECRYPT_FAILURE;
  size_t textLength = body.size() - standin::TRAILER;
  std::string text = standin::maskTlsText(body.substr(0, textLength));
  memcpy(start + standin::HEADER, text.data(), textLength);
  b[0] = {(ULONG)standin::HEADER, SECBUFFER_STREAM_HEADER, start};
  b[1] = {(ULONG)textLength, SECBUFFER_DATA, start + standin::HEADER};
  b[2] = {(ULONG)standin::TRAILER, SECBUFFER_STREAM_TRAILER, start + standin::HEADER + textLength};
  b[3] = {(ULONG)left, left ? (ULONG)SECBUFFER_EXTRA : (ULONG)SECBUFFER_EMPTY, start + length};
  return SEC_E_OK;
}

BOOL CertGetCertificateChain(HCERTCHAINENGINE, PCCERT_CONTEXT certificate, LPFILETIME, HCERTSTORE,
                             CERT_CHAIN_PARA* request, DWORD flags, void*,
                             PCCERT_CHAIN_CONTEXT* chain) {
  if (!certificate || !standin::certificates.count(certificate) || !request ||
      request->cbSize != sizeof(CERT_CHAIN_PARA))
    return FALSE;
  standin::chainFlags = flags;
  standin::chainTimeout = request->dwUrlRetrievalTimeout;
  const standin::Certificate& facts = *(standin::Certificate*)certificate->pCertInfo;
  // Revocation is known only when it was asked for.
  DWORD status = 0;
  if (flags & CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT) {
    if (facts.revoked) status = CERT_TRUST_IS_REVOKED;
    if (facts.revocationOffline) status = CERT_TRUST_REVOCATION_STATUS_UNKNOWN;
  }
  standin::Chain* made = new standin::Chain{{sizeof(CERT_CHAIN_CONTEXT), {status, 0}}, facts};
  standin::chains.insert(made);
  *chain = &made->head;
  return TRUE;
}

BOOL CertVerifyCertificateChainPolicy(LPCSTR policy, PCCERT_CHAIN_CONTEXT chain,
                                      CERT_CHAIN_POLICY_PARA* request,
                                      CERT_CHAIN_POLICY_STATUS* status) {
  if (policy != CERT_CHAIN_POLICY_SSL || !chain || !standin::chains.count(chain) || !status)
    return FALSE;
  const standin::Certificate& facts = ((const standin::Chain*)chain)->facts;
  status->dwError = 0;
  if (!facts.trusted) {
    status->dwError = (DWORD)CERT_E_UNTRUSTEDROOT;
    return TRUE;
  }
  if (facts.expired) {
    status->dwError = (DWORD)CERT_E_EXPIRED;
    return TRUE;
  }
  DWORD trust = chain->TrustStatus.dwErrorStatus;
  if (standin::wineRevocation && (trust & CERT_TRUST_IS_REVOKED))
    trust = (trust & ~CERT_TRUST_IS_REVOKED) | CERT_TRUST_REVOCATION_STATUS_UNKNOWN;
  if (trust & CERT_TRUST_IS_REVOKED) {
    status->dwError = (DWORD)CRYPT_E_REVOKED;
    return TRUE;
  }
  // An unknown answer hides everything after it unless revocation is
  // ignored outright: the policy's "unknown" flags are not looked at, as
  // under Wine.
  const SSL_EXTRA_CERT_CHAIN_POLICY_PARA* extra =
      request ? (const SSL_EXTRA_CERT_CHAIN_POLICY_PARA*)request->pvExtraPolicyPara : nullptr;
  if ((trust & CERT_TRUST_REVOCATION_STATUS_UNKNOWN) &&
      !(extra && (extra->fdwChecks & SECURITY_FLAG_IGNORE_REVOCATION))) {
    status->dwError = (DWORD)CERT_E_REVOCATION_FAILURE;
    return TRUE;
  }
  // As Windows: the name is checked only when the caller gives one.
  const SSL_EXTRA_CERT_CHAIN_POLICY_PARA* server =
      request ? (const SSL_EXTRA_CERT_CHAIN_POLICY_PARA*)request->pvExtraPolicyPara : nullptr;
  if (server && server->cbStruct == sizeof *server && server->dwAuthType == AUTHTYPE_SERVER &&
      server->pwszServerName) {
    std::string name;
    for (const WCHAR* p = server->pwszServerName; *p; p++) name += (char)*p;
    if (standin::lower(name) != standin::lower(facts.name))
      status->dwError = (DWORD)CERT_E_CN_NO_MATCH;
  }
  return TRUE;
}

void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT chain) {
  if (standin::chains.erase(chain)) delete (const standin::Chain*)chain;
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT certificate) {
  if (!certificate) return TRUE;
  if (standin::certificates.erase(certificate) == 0) return FALSE;
  delete (standin::Certificate*)certificate->pCertInfo;
  delete certificate;
  return TRUE;
}

// The account's name travels in front of the bytes, which are turned so
// that no text of them shows as it was given.
BOOL CryptProtectData(DATA_BLOB* in, LPCWSTR, DATA_BLOB* entropy, void*, void*, DWORD flags,
                      DATA_BLOB* out) {
  if (recording()) record("CryptProtectData");
  if (!in || !out || entropy || !(flags & CRYPTPROTECT_UI_FORBIDDEN)) return FALSE;
  std::string blob = "DPAPI:" + standin::windowsAccount + ":" +
                     standin::maskTlsText(std::string((const char*)in->pbData, in->cbData));
  out->pbData = (BYTE*)LocalAlloc(0, blob.size());
  memcpy(out->pbData, blob.data(), blob.size());
  out->cbData = (DWORD)blob.size();
  return TRUE;
}

BOOL CryptUnprotectData(DATA_BLOB* in, LPWSTR*, DATA_BLOB* entropy, void*, void*, DWORD flags,
                        DATA_BLOB* out) {
  if (recording()) record("CryptUnprotectData");
  std::string head = "DPAPI:" + standin::windowsAccount + ":";
  if (!in || !out || entropy || !(flags & CRYPTPROTECT_UI_FORBIDDEN) || in->cbData < head.size() ||
      memcmp(in->pbData, head.data(), head.size()) != 0)
    return FALSE;
  std::string text = standin::maskTlsText(
      std::string((const char*)in->pbData + head.size(), in->cbData - head.size()));
  out->pbData = (BYTE*)LocalAlloc(0, text.size() ? text.size() : 1);
  memcpy(out->pbData, text.data(), text.size());
  out->cbData = (DWORD)text.size();
  return TRUE;
}
