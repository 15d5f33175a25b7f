#include "net/auth_rules.h"

namespace {

// Another request, unless the passes are used up.
AuthStep SendAgain(AuthExchangeState& state)
{
    if (state.passes >= kAuthMaxPasses)
        return {AuthAction::Leave, AuthLog::PassLimitLine};
    ++state.passes;
    return {AuthAction::Send, AuthLog::None};
}

AuthStep OnStatus(AuthExchangeState& state, unsigned status)
{
    state.status = status;
    switch (status) {
    case 200:
        state.previousStatus = status;
        return {AuthAction::ReadBody, AuthLog::None};
    case 401: {
        bool repeated = state.previousStatus == 401;
        state.previousStatus = status;
        if (repeated)
            return {AuthAction::Leave, AuthLog::Repeated401Line};
        return SendAgain(state);
    }
    case 407:
        // The previous status is stored once the schemes are known.
        return {AuthAction::QuerySchemes, AuthLog::ProxyAuthLine};
    default:
        state.previousStatus = status;
        return {AuthAction::Leave, AuthLog::OtherStatusLine};
    }
}

} // namespace

unsigned ChooseProxyAuthScheme(unsigned supportedSchemes)
{
    static const unsigned preference[] = {kAuthSchemeNegotiate, kAuthSchemeNtlm, kAuthSchemePassport,
                                          kAuthSchemeDigest};
    for (unsigned scheme : preference)
        if (supportedSchemes & scheme)
            return scheme;
    return 0;
}

AuthExchangeState AuthExchangeStart()
{
    return AuthExchangeState{0, 0, 0, 0};
}

AuthStep NextAuthStep(AuthExchangeState& state, AuthEvent event)
{
    switch (event.kind) {
    case AuthEventKind::Begin:
        return SendAgain(state);
    case AuthEventKind::SendFailedResend:
        // The previous status stays as it was.
        return SendAgain(state);
    case AuthEventKind::SendFailed:
    case AuthEventKind::StatusQueryFailed:
    case AuthEventKind::SchemeQueryFailed:
        return {AuthAction::Leave, AuthLog::ErrorLine};
    case AuthEventKind::Received:
        return {AuthAction::QueryStatus, AuthLog::None};
    case AuthEventKind::Status:
        return OnStatus(state, event.value);
    case AuthEventKind::SchemesQueried: {
        state.scheme = ChooseProxyAuthScheme(event.value);
        bool repeated = state.previousStatus == 407;
        state.previousStatus = 407;
        if (repeated)
            return {AuthAction::Leave, AuthLog::None};
        return SendAgain(state);
    }
    }
    return {AuthAction::Leave, AuthLog::ErrorLine};
}

DirectStatus ClassifyDirectStatus(unsigned status)
{
    if (status == 407)
        return DirectStatus::ProxyLogin;
    if (IsHttpErrorStatus(status))
        return DirectStatus::HttpError;
    return DirectStatus::Body;
}

bool AnswersWithWindowsLogon(unsigned scheme)
{
    return scheme == kAuthSchemeNegotiate || scheme == kAuthSchemeNtlm;
}

bool IsHttpErrorStatus(unsigned status)
{
    return status >= 400 && status <= 599 && status != 407;
}

const wchar_t* HttpStatusMessageFormat(unsigned status)
{
    switch (status) {
    case 401:
        return L"Fehler: HTTP-Statuscode=%d Nicht autorisiert.";
    case 403:
        return L"Fehler: HTTP-Statuscode=%d Forbidden.";
    case 404:
        return L"Fehler: HTTP-Statuscode=%d Resource nicht gefunden.";
    case 407:
        return L"Fehler: HTTP-Statuscode=%d Proxy Authentifizierung notwendig.";
    case 408:
        return L"Fehler: HTTP-Statuscode=%d Request Timeout.";
    default:
        return L"Fehler: HTTP-Statuscode=%d.";
    }
}

bool BodyIsWhole(bool hasContentLength, uint64_t contentLength, uint64_t received)
{
    return !hasContentLength || received == contentLength;
}
