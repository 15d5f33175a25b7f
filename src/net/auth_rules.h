// The decisions of the download operations, free of platform types so unit tests can drive them:
// the exchange loop of DownloadWithAuthentication (with ends that keep it from looping) as a state
// machine, the proxy authentication scheme choice, the HTTP error classification and message
// format of ReportHttpStatus, and the completeness of a received body.
#pragma once

#include <stdint.h>

// Scheme bits as WinHTTP defines them (checked against <winhttp.h> where the platform is used).
enum : unsigned {
    kAuthSchemeBasic = 0x01,
    kAuthSchemeNtlm = 0x02,
    kAuthSchemePassport = 0x04,
    kAuthSchemeDigest = 0x08,
    kAuthSchemeNegotiate = 0x10,
};

// The exchange ends in any case after this many passes (requests sent).
enum : int { kAuthMaxPasses = 6 };

// Negotiate > NTLM > Passport > Digest; 0 (no credentials) when none of them is offered. Basic is
// never chosen.
unsigned ChooseProxyAuthScheme(unsigned supportedSchemes);

// What happened since the last step.
enum class AuthEventKind {
    Begin,                // the request handle exists; the loop starts
    SendFailedResend,     // send or receive failed with ERROR_WINHTTP_RESEND_REQUEST
    SendFailed,           // send or receive failed otherwise
    Received,             // send and receive succeeded
    StatusQueryFailed,    // the numeric status could not be read
    Status,               // value = the numeric status
    SchemeQueryFailed,    // WinHttpQueryAuthSchemes failed (after a 407)
    SchemesQueried,       // value = the supported-schemes bit set (after a 407)
};

struct AuthEvent {
    AuthEventKind kind;
    unsigned value;
};

// What the driver does next.
enum class AuthAction {
    Send,          // set credentials for state.scheme when nonzero, then send and receive
    QueryStatus,   // read the numeric status
    QuerySchemes,  // call WinHttpQueryAuthSchemes
    ReadBody,      // the 200 answer: read the body (result decided by the body reading)
    Leave,         // leave the loop with result 0, on to the cleanup
};

// The line the driver logs before it carries out the action.
enum class AuthLog {
    None,
    ErrorLine,        // LogSystemError(last error, "DownloadWithAuthentication results=0: Error has occurred.\n")
    ProxyAuthLine,    // "DownloadWithAuthentication 407: The proxy requires authentication.  Sending credentials...\n"
    OtherStatusLine,  // "DownloadWithAuthentication default: error. HTTP Status code %d returned.\n" with state.status
    Repeated401Line,  // the server answered 401 twice in a row
    PassLimitLine,    // kAuthMaxPasses requests brought no answer that ends the exchange
};

struct AuthStep {
    AuthAction action;
    AuthLog log;
};

struct AuthExchangeState {
    unsigned scheme;          // chosen proxy scheme, 0 = none yet
    unsigned previousStatus;  // status of the previous pass, 0 at start
    unsigned status;          // status of the current pass
    int passes;               // requests sent so far (each Send action counts)
};

AuthExchangeState AuthExchangeStart();
// The one decision function of the exchange loop.
AuthStep NextAuthStep(AuthExchangeState& state, AuthEvent event);

// What DownloadfileDirect does with the status of an answer.
enum class DirectStatus {
    Body,       // read the body into the target file
    HttpError,  // ReportHttpStatus, result 0
    ProxyLogin, // 407: result 0 with the file empty, so the caller's fallback logs in
};
DirectStatus ClassifyDirectStatus(unsigned status);

// Whether the fallback lets WinHTTP answer the proxy with the user's Windows logon (the low
// autologon policy) for the chosen scheme: Negotiate and NTLM only.
bool AnswersWithWindowsLogon(unsigned scheme);

// ReportHttpStatus and DownloadfileDirect: a status from 400 to 599 other than 407 is an error.
bool IsHttpErrorStatus(unsigned status);
// The message format of ReportHttpStatus for a status (one "%d").
const wchar_t* HttpStatusMessageFormat(unsigned status);

// Whether a body of received bytes is whole: when the server announced a Content-Length, the
// received count must equal it; without one every count is whole.
bool BodyIsWhole(bool hasContentLength, uint64_t contentLength, uint64_t received);
