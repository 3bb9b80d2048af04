// TLS for the check, through SChannel: from the first byte on the TLS port,
// or after STLS on the plain one (RFC 2595); TLS 1.3 or 1.2 with strong
// ciphers only. The server's certificate is checked by the program itself
// (SCH_CRED_MANUAL_CRED_VALIDATION) against the system's trusted roots,
// revocation and the configured host name, after every handshake and
// before the dialogue says a word inside the channel: no password leaves
// the program unless the certificate passed, and a later handshake must
// show the very certificate of the first.
#include "net/tls.h"

#include <string.h>

#include "base/appstate.h"
#include "base/text.h"
#include "base/trace.h"

namespace {

// The one place where a channel's phase changes.
void setTlsPhase(TlsChannel* channel, TlsPhase phase) {
  static const char* const names[] = {"TlsOff", "TlsHandshake", "TlsOpen"};
  static_assert(sizeof names / sizeof names[0] == TlsOpen + 1, "a name for every phase");
  if (phase != channel->phase) traceLine("tls %s -> %s", names[channel->phase], names[phase]);
  channel->phase = phase;
}

const char TEXT_TLS_FAILED[] = "暗号化通信を始められなかったにゃ.";
const char TEXT_CERT_UNTRUSTED[] = "サーバの証明書が信頼できないにゃ.";
const char TEXT_CERT_WRONG_HOST[] = "証明書のサーバ名が違うにゃ.";
const char TEXT_CERT_EXPIRED[] = "サーバの証明書の期限切れにゃ.";
const char TEXT_CERT_BAD[] = "サーバの証明書に問題があるにゃ.";
const char TEXT_CERT_REVOKED[] = "サーバの証明書は取り消されているにゃ.";
const char TEXT_CERT_CHANGED[] = "サーバの証明書が途中で変わったにゃ.";

const ULONG CONTEXT_REQUEST = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                              ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
// What the channel is relied on for, of what was asked: a handshake that
// grants less leaves the session.
const ULONG CONTEXT_REQUIRED = ISC_RET_SEQUENCE_DETECT | ISC_RET_REPLAY_DETECT |
                               ISC_RET_CONFIDENTIALITY | ISC_RET_ALLOCATED_MEMORY | ISC_RET_STREAM;

// Revocation lists and answers are fetched for at most this long in all:
// the chain is built on the program's one thread.
const DWORD REVOCATION_TIMEOUT_MS = 3000;

// The server may ask for a client certificate; we have none to give, and
// say so by asking again. A server that keeps asking is left.
const int CREDENTIAL_RETRIES = 2;

void forgetCredentials(TlsChannel* channel) {
  if (channel->haveCredentials) FreeCredentialsHandle(&channel->credentials);
  channel->haveCredentials = 0;
}

// Ends the connection over a channel that failed. Nothing more is sent: a
// channel that is not open carries no farewell. The next session starts
// afresh, never resuming this one (its certificate may be what failed).
void failTls(HWND window, TlsChannel* channel, const char* text) {
  channel->events->failed(window, channel->user, text);
  forgetCredentials(channel);
}

// TLS 1.3 and 1.2 where the system takes SCH_CREDENTIALS (Windows 10 1809
// and later); elsewhere the older request, which goes no higher than 1.2.
// Either way with the ciphers Windows counts as strong; certificates are
// checked here.
int acquireCredentials(TlsChannel* channel) {
  const DWORD flags =
      SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
  TLS_PARAMETERS protocols;
  memset(&protocols, 0, sizeof protocols);
  protocols.grbitDisabledProtocols = ~(DWORD)(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT);
  SCH_CREDENTIALS request;
  memset(&request, 0, sizeof request);
  request.dwVersion = SCH_CREDENTIALS_VERSION;
  request.dwFlags = flags;
  request.cTlsParameters = 1;
  request.pTlsParameters = &protocols;
  if (AcquireCredentialsHandleA(NULL, (LPSTR)UNISP_NAME_A, SECPKG_CRED_OUTBOUND, NULL, &request,
                                NULL, NULL, &channel->credentials, NULL) == SEC_E_OK)
    return 1;
  SCHANNEL_CRED older;
  memset(&older, 0, sizeof older);
  older.dwVersion = SCHANNEL_CRED_VERSION;
  older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
  older.dwFlags = flags;
  return AcquireCredentialsHandleA(NULL, (LPSTR)UNISP_NAME_A, SECPKG_CRED_OUTBOUND, NULL, &older,
                                   NULL, NULL, &channel->credentials, NULL) == SEC_E_OK;
}

// The credentials of earlier sessions, unless the server has changed.
int haveCredentialsForServer(TlsChannel* channel, int port, int implicit) {
  if (channel->haveCredentials &&
      (strcmp(channel->credentialsHost, channel->serverName) != 0 ||
       channel->credentialsPort != port || channel->credentialsImplicit != implicit))
    forgetCredentials(channel);
  if (channel->haveCredentials) return 1;
  if (!acquireCredentials(channel)) return 0;
  channel->haveCredentials = 1;
  memcpy(channel->credentialsHost, channel->serverName, sizeof channel->credentialsHost);
  channel->credentialsPort = port;
  channel->credentialsImplicit = implicit;
  return 1;
}

// Queues bytes for the server and sends what the socket takes now.
int queueForServer(TlsChannel* channel, const void* bytes, DWORD length) {
  if (length > TLS_OUTPUT_BYTES - channel->outputLength) return 0;
  memcpy(channel->output + channel->outputLength, bytes, length);
  channel->outputLength += length;
  flushTls(channel);
  return 1;
}

// Sends a handshake token SChannel produced, then frees it.
int sendToken(TlsChannel* channel, SecBuffer* token) {
  if (token->pvBuffer == NULL) return 1;
  int queued = queueForServer(channel, token->pvBuffer, token->cbBuffer);
  FreeContextBuffer(token->pvBuffer);
  token->pvBuffer = NULL;
  return queued;
}

// What SChannel left unread moves to the front of the input; without an
// "extra" buffer everything was taken.
void keepUnread(TlsChannel* channel, const SecBuffer* buffers, ULONG count) {
  for (ULONG i = 0; i < count; i++)
    if (buffers[i].BufferType == SECBUFFER_EXTRA && buffers[i].cbBuffer <= channel->inputLength) {
      memmove(channel->input, channel->input + channel->inputLength - buffers[i].cbBuffer,
              buffers[i].cbBuffer);
      channel->inputLength = buffers[i].cbBuffer;
      return;
    }
  channel->inputLength = 0;
}

int sameCertificate(PCCERT_CONTEXT a, PCCERT_CONTEXT b) {
  return a->cbCertEncoded == b->cbCertEncoded &&
         memcmp(a->pbCertEncoded, b->pbCertEncoded, a->cbCertEncoded) == 0;
}

// The chain policy for a server, with the configured name; dwError of the
// verdict is 0 when it passed. Returns 0 when the check could not be made.
int verifyForServer(PCCERT_CHAIN_CONTEXT chain, const WCHAR* serverName, DWORD checks,
                    CERT_CHAIN_POLICY_STATUS* verdict) {
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA serverCheck;
  memset(&serverCheck, 0, sizeof serverCheck);
  serverCheck.cbStruct = sizeof serverCheck;
  serverCheck.dwAuthType = AUTHTYPE_SERVER;
  serverCheck.fdwChecks = checks;
  serverCheck.pwszServerName = (WCHAR*)serverName;
  CERT_CHAIN_POLICY_PARA policy;
  memset(&policy, 0, sizeof policy);
  policy.cbSize = sizeof policy;
  // Revocation that could not be learnt (no list, the server offline)
  // does not count against the certificate; a revoked one does.
  policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
  policy.pvExtraPolicyPara = &serverCheck;
  memset(verdict, 0, sizeof *verdict);
  verdict->cbSize = sizeof *verdict;
  return CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, verdict) ? 1 : 0;
}

// What a policy says when nobody could tell whether the certificate is
// revoked (Wine says CERT_E_REVOCATION_FAILURE whatever the flags).
int revocationUnknown(DWORD error) {
  return error == (DWORD)CRYPT_E_NO_REVOCATION_CHECK ||
         error == (DWORD)CRYPT_E_REVOCATION_OFFLINE || error == (DWORD)CERT_E_REVOCATION_FAILURE;
}

// Checks the server's certificate; returns the failure text, or NULL
// when the chain ends in a trusted root, nothing in it short of the root
// is known to be revoked, it names the configured host and, after a
// first handshake, it is the first handshake's certificate.
const char* certificateProblem(TlsChannel* channel) {
  PCCERT_CONTEXT certificate = NULL;
  if (QueryContextAttributesA(&channel->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) !=
          SEC_E_OK ||
      certificate == NULL)
    return TEXT_CERT_BAD;
  if (channel->firstCertificate != NULL &&
      !sameCertificate(channel->firstCertificate, certificate)) {
    CertFreeCertificateContext(certificate);
    return TEXT_CERT_CHANGED;
  }
  // A name that cannot be put in the form the check takes is no name the
  // certificate can be said to carry.
  WCHAR serverName[TLS_HOST_BYTES];
  if (!toWide(channel->serverName, serverName, TLS_HOST_BYTES)) {
    CertFreeCertificateContext(certificate);
    return TEXT_CERT_WRONG_HOST;
  }

  LPSTR serverUsage[] = {(LPSTR)szOID_PKIX_KP_SERVER_AUTH};
  CERT_CHAIN_PARA chainRequest;
  memset(&chainRequest, 0, sizeof chainRequest);
  chainRequest.cbSize = sizeof chainRequest;
  chainRequest.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  chainRequest.RequestedUsage.Usage.cUsageIdentifier = 1;
  chainRequest.RequestedUsage.Usage.rgpszUsageIdentifier = serverUsage;
  chainRequest.dwUrlRetrievalTimeout = REVOCATION_TIMEOUT_MS;
  PCCERT_CHAIN_CONTEXT chain = NULL;
  if (!CertGetCertificateChain(NULL, certificate, NULL, certificate->hCertStore, &chainRequest,
                               CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT |
                                   CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT,
                               NULL, &chain)) {
    CertFreeCertificateContext(certificate);
    return TEXT_CERT_UNTRUSTED;
  }

  CERT_CHAIN_POLICY_STATUS verdict;
  int checked = verifyForServer(chain, serverName, 0, &verdict);
  // A policy that still reports the unknown revocation would hide what
  // else it would find: it is asked again without revocation, unless the
  // chain itself says revoked (Wine's policy calls that unknown too).
  int revoked = (chain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_REVOKED) != 0;
  if (checked && revocationUnknown(verdict.dwError) && !revoked)
    checked = verifyForServer(chain, serverName, SECURITY_FLAG_IGNORE_REVOCATION, &verdict);
  CertFreeCertificateChain(chain);
  if (checked && verdict.dwError == 0 && channel->firstCertificate == NULL)
    channel->firstCertificate = certificate;
  else
    CertFreeCertificateContext(certificate);

  if (!checked) return TEXT_CERT_BAD;
  if (revoked && revocationUnknown(verdict.dwError)) return TEXT_CERT_REVOKED;
  switch ((DWORD)verdict.dwError) {
    case 0: return NULL;
    case (DWORD)CRYPT_E_REVOKED: return TEXT_CERT_REVOKED;
    case (DWORD)CERT_E_CN_NO_MATCH: return TEXT_CERT_WRONG_HOST;
    case (DWORD)CERT_E_UNTRUSTEDROOT:
    case (DWORD)CERT_E_CHAINING:
    case (DWORD)TRUST_E_CERT_SIGNATURE: return TEXT_CERT_UNTRUSTED;
    case (DWORD)CERT_E_EXPIRED: return TEXT_CERT_EXPIRED;
    default: return TEXT_CERT_BAD;
  }
}

void decryptReceived(HWND window, TlsChannel* channel);

// A handshake is complete, the first or a later one: the channel must
// have what was asked of it and show a good certificate, the first one's,
// before the dialogue goes on inside it; its sizes may have changed.
void openChannel(HWND window, TlsChannel* channel, ULONG granted) {
  if ((granted & CONTEXT_REQUIRED) != CONTEXT_REQUIRED)
    return failTls(window, channel, TEXT_TLS_FAILED);
  const char* problem = certificateProblem(channel);
  if (problem != NULL) return failTls(window, channel, problem);
  if (QueryContextAttributesA(&channel->context, SECPKG_ATTR_STREAM_SIZES, &channel->sizes) !=
      SEC_E_OK)
    return failTls(window, channel, TEXT_TLS_FAILED);
  setTlsPhase(channel, TlsOpen);
  channel->events->opened(window, channel->user);
  if (channel->phase == TlsOpen && channel->inputLength > 0) decryptReceived(window, channel);
}

// Feeds the handshake with what has arrived, as long as it makes progress.
void continueHandshake(HWND window, TlsChannel* channel) {
  int credentialRetries = 0;
  while (channel->phase == TlsHandshake) {
    SecBuffer in[2] = {{channel->inputLength, SECBUFFER_TOKEN, channel->input},
                       {0, SECBUFFER_EMPTY, NULL}};
    SecBuffer out[1] = {{0, SECBUFFER_TOKEN, NULL}};
    SecBufferDesc inDesc = {SECBUFFER_VERSION, 2, in};
    SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, out};
    ULONG granted = 0;
    SECURITY_STATUS status = InitializeSecurityContextA(&channel->credentials, &channel->context,
                                                        channel->serverName, CONTEXT_REQUEST, 0, 0,
                                                        &inDesc, 0, NULL, &outDesc, &granted, NULL);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      if (channel->inputLength == TLS_INPUT_BYTES) failTls(window, channel, TEXT_TLS_FAILED);
      return;
    }
    // A failure may come with an alert for the server; it goes first.
    int sent = sendToken(channel, &out[0]);
    if (FAILED(status) || !sent) return failTls(window, channel, TEXT_TLS_FAILED);
    if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
      if (++credentialRetries > CREDENTIAL_RETRIES)
        return failTls(window, channel, TEXT_TLS_FAILED);
      continue;
    }
    keepUnread(channel, in, 2);
    if (status == SEC_E_OK) return openChannel(window, channel, granted);
    if (status != SEC_I_CONTINUE_NEEDED) return failTls(window, channel, TEXT_TLS_FAILED);
    if (channel->inputLength == 0) return;  // the server's turn
  }
}

// Hands the plain text on in the pieces a plain socket would deliver, so
// that a line is judged alike whichever way it came. Returns 0 when the
// connection ended meanwhile.
int deliverPlainText(HWND window, TlsChannel* channel, const char* text, DWORD length) {
  const DWORD PIECE = 255;
  for (DWORD at = 0; at < length; at += PIECE) {
    DWORD piece = length - at < PIECE ? length - at : PIECE;
    if (!channel->events->text(window, channel->user, text + at, piece)) return 0;
    if (channel->phase != TlsOpen || app.windowGone) return 0;
  }
  return 1;
}

void decryptReceived(HWND window, TlsChannel* channel) {
  while (channel->phase == TlsOpen && channel->inputLength > 0) {
    SecBuffer buffers[4] = {{channel->inputLength, SECBUFFER_DATA, channel->input},
                            {0, SECBUFFER_EMPTY, NULL},
                            {0, SECBUFFER_EMPTY, NULL},
                            {0, SECBUFFER_EMPTY, NULL}};
    SecBufferDesc description = {SECBUFFER_VERSION, 4, buffers};
    SECURITY_STATUS status = DecryptMessage(&channel->context, &description, 0, NULL);
    if (status == SEC_E_INCOMPLETE_MESSAGE) break;
    // The server closed the channel.
    if (status == SEC_I_CONTEXT_EXPIRED) return channel->events->closed(window, channel->user);
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE)
      return failTls(window, channel, TEXT_TLS_FAILED);

    // The plain text and the unread rest both lie inside the input: the
    // text goes on before the rest moves over it.
    for (const SecBuffer& buffer : buffers)
      if (buffer.BufferType == SECBUFFER_DATA &&
          !deliverPlainText(window, channel, (const char*)buffer.pvBuffer, buffer.cbBuffer))
        return;
    keepUnread(channel, buffers, 4);

    if (status == SEC_I_RENEGOTIATE) {
      // Handshake messages inside the channel (TLS 1.3 session tickets):
      // they go to the context, and decryption goes on after them.
      setTlsPhase(channel, TlsHandshake);
      return continueHandshake(window, channel);
    }
  }
  if (channel->phase == TlsOpen && channel->inputLength == TLS_INPUT_BYTES)
    failTls(window, channel, TEXT_TLS_FAILED);
}

}  // namespace

void initTls(TlsChannel* channel, const TlsEvents* events, void* user) {
  memset(channel, 0, sizeof *channel);
  channel->events = events;
  channel->user = user;
  channel->channelSocket = INVALID_SOCKET;
}

void beginTls(HWND window, TlsChannel* channel, SOCKET socket, const char* host, int port,
              int implicit) {
  // Once a session, from a channel not yet begun: a second notification
  // for the connection starts nothing.
  if (channel->phase != TlsOff || channel->haveContext) return;
  channel->channelSocket = socket;
  copyWholeCharacters(channel->serverName, sizeof channel->serverName, host);
  if (!haveCredentialsForServer(channel, port, implicit))
    return failTls(window, channel, TEXT_TLS_FAILED);
  setTlsPhase(channel, TlsHandshake);
  channel->inputLength = 0;
  channel->outputLength = 0;

  SecBuffer out[1] = {{0, SECBUFFER_TOKEN, NULL}};
  SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, out};
  ULONG granted = 0;
  SECURITY_STATUS status =
      InitializeSecurityContextA(&channel->credentials, NULL, channel->serverName, CONTEXT_REQUEST,
                                 0, 0, NULL, 0, &channel->context, &outDesc, &granted, NULL);
  if (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK) channel->haveContext = 1;
  int sent = sendToken(channel, &out[0]);
  if (status != SEC_I_CONTINUE_NEEDED || !sent) return failTls(window, channel, TEXT_TLS_FAILED);
}

char* tlsReceiveArea(TlsChannel* channel, int* room) {
  *room = (int)(TLS_INPUT_BYTES - channel->inputLength);
  return channel->input + channel->inputLength;
}

void receiveTls(HWND window, TlsChannel* channel, int received) {
  channel->inputLength += (DWORD)received;
  // Before the handshake began the server has nothing to say: its bytes
  // are dropped unread.
  if (channel->phase == TlsOff)
    channel->inputLength = 0;
  else if (channel->phase == TlsHandshake)
    continueHandshake(window, channel);
  else if (channel->phase == TlsOpen)
    decryptReceived(window, channel);
}

int sendOverTls(TlsChannel* channel, const char* text, DWORD length) {
  if (channel->phase != TlsOpen) return 0;
  char record[TLS_MOST_TEXT_BYTES + 256];
  DWORD header = channel->sizes.cbHeader, trailer = channel->sizes.cbTrailer;
  // A command is far shorter than a record may be; the header and trailer
  // sizes come from SChannel and are checked all the same.
  if (length > TLS_MOST_TEXT_BYTES || header + length + trailer > sizeof record ||
      length > channel->sizes.cbMaximumMessage)
    return 0;
  memcpy(record + header, text, length);
  SecBuffer buffers[4] = {{header, SECBUFFER_STREAM_HEADER, record},
                          {length, SECBUFFER_DATA, record + header},
                          {trailer, SECBUFFER_STREAM_TRAILER, record + header + length},
                          {0, SECBUFFER_EMPTY, NULL}};
  SecBufferDesc description = {SECBUFFER_VERSION, 4, buffers};
  if (EncryptMessage(&channel->context, 0, &description, 0) != SEC_E_OK) return 0;
  // The record is sent whole or not at all; a refusal shows as silence,
  // and the connection's time-out ends it as it would for plain text.
  return queueForServer(channel, record,
                        buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
}

void flushTls(TlsChannel* channel) {
  while (channel->outputLength > 0 && channel->channelSocket != INVALID_SOCKET) {
    int sent = send(channel->channelSocket, channel->output, (int)channel->outputLength, 0);
    if (sent <= 0) return;  // FD_WRITE comes when there is room again
    memmove(channel->output, channel->output + sent, channel->outputLength - (DWORD)sent);
    channel->outputLength -= (DWORD)sent;
  }
}

void endTls(TlsChannel* channel) {
  if (channel->firstCertificate != NULL) CertFreeCertificateContext(channel->firstCertificate);
  channel->firstCertificate = NULL;
  if (channel->haveContext) DeleteSecurityContext(&channel->context);
  channel->haveContext = 0;
  setTlsPhase(channel, TlsOff);
  channel->channelSocket = INVALID_SOCKET;
  channel->inputLength = 0;
  channel->outputLength = 0;
}

void endTlsForShutdown(TlsChannel* channel) {
  endTls(channel);
  forgetCredentials(channel);
}
