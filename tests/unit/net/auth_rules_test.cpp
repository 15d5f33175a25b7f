// The exchange loop of DownloadWithAuthentication driven through every row of its state table,
// with the two ends that keep it from looping (second 401 in a row, at most six passes).
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "net/auth_rules.h"

namespace {

AuthEvent Ev(AuthEventKind kind, unsigned value = 0)
{
    return AuthEvent{kind, value};
}

// Answers one request with a status, as the driver would: Received, then the status.
AuthStep Answer(AuthExchangeState& s, unsigned status)
{
    AuthStep step = NextAuthStep(s, Ev(AuthEventKind::Received));
    EXPECT_EQ(AuthAction::QueryStatus, step.action);
    EXPECT_EQ(AuthLog::None, step.log);
    return NextAuthStep(s, Ev(AuthEventKind::Status, status));
}

// A 407 whose scheme query offers the given schemes.
AuthStep Answer407(AuthExchangeState& s, unsigned schemes)
{
    AuthStep step = Answer(s, 407);
    EXPECT_EQ(AuthAction::QuerySchemes, step.action);
    EXPECT_EQ(AuthLog::ProxyAuthLine, step.log);
    return NextAuthStep(s, Ev(AuthEventKind::SchemesQueried, schemes));
}

void ExpectStep(AuthStep step, AuthAction action, AuthLog log)
{
    EXPECT_EQ(action, step.action);
    EXPECT_EQ(log, step.log);
}

} // namespace

TEST(ChooseProxyAuthScheme, PrefersNegotiateThenNtlmPassportDigestAndNeverBasic)
{
    EXPECT_EQ(kAuthSchemeNegotiate, ChooseProxyAuthScheme(0x1F));
    EXPECT_EQ(kAuthSchemeNegotiate, ChooseProxyAuthScheme(kAuthSchemeNtlm | kAuthSchemeNegotiate));
    EXPECT_EQ(kAuthSchemeNtlm, ChooseProxyAuthScheme(kAuthSchemeNtlm | kAuthSchemeDigest | kAuthSchemeBasic));
    EXPECT_EQ(kAuthSchemePassport, ChooseProxyAuthScheme(kAuthSchemePassport | kAuthSchemeDigest));
    EXPECT_EQ(kAuthSchemeDigest, ChooseProxyAuthScheme(kAuthSchemeDigest | kAuthSchemeBasic));
    EXPECT_EQ(0u, ChooseProxyAuthScheme(kAuthSchemeBasic));
    EXPECT_EQ(0u, ChooseProxyAuthScheme(0));
    EXPECT_EQ(0u, ChooseProxyAuthScheme(0x20)); // unknown bits
}

TEST(DirectStatus, A407GoesToTheFallbackOtherErrorsAreReportedTheRestIsABody)
{
    const std::pair<unsigned, DirectStatus> cases[] = {
        {200, DirectStatus::Body},      {0, DirectStatus::Body},        {302, DirectStatus::Body},
        {399, DirectStatus::Body},      {400, DirectStatus::HttpError}, {401, DirectStatus::HttpError},
        {407, DirectStatus::ProxyLogin}, {408, DirectStatus::HttpError}, {599, DirectStatus::HttpError},
        {600, DirectStatus::Body},
    };
    for (const auto& [status, outcome] : cases)
        EXPECT_EQ(outcome, ClassifyDirectStatus(status)) << status;
}

// The user's Windows logon answers Negotiate and NTLM; Basic is never chosen, so never answered.
TEST(ChooseProxyAuthScheme, OnlyNegotiateAndNtlmAreAnsweredWithTheWindowsLogon)
{
    const std::pair<unsigned, bool> cases[] = {
        {kAuthSchemeNegotiate | kAuthSchemeNtlm | kAuthSchemeBasic, true},
        {kAuthSchemeNtlm | kAuthSchemeBasic, true},
        {kAuthSchemeDigest | kAuthSchemeBasic, false},
        {kAuthSchemePassport, false},
        {kAuthSchemeBasic, false},
        {0, false},
    };
    for (const auto& [offered, logon] : cases)
        EXPECT_EQ(logon, AnswersWithWindowsLogon(ChooseProxyAuthScheme(offered))) << offered;
}

TEST(AuthExchange, StartsWithNoSchemeNoPreviousStatusAndSendsFirst)
{
    AuthExchangeState s = AuthExchangeStart();
    EXPECT_EQ(0u, s.scheme);
    EXPECT_EQ(0u, s.previousStatus);
    ExpectStep(NextAuthStep(s, Ev(AuthEventKind::Begin)), AuthAction::Send, AuthLog::None);
    EXPECT_EQ(1, s.passes);
}

TEST(AuthExchange, Status200ReadsTheBody)
{
    AuthExchangeState s = AuthExchangeStart();
    NextAuthStep(s, Ev(AuthEventKind::Begin));
    ExpectStep(Answer(s, 200), AuthAction::ReadBody, AuthLog::None);
}

TEST(AuthExchange, ResendRequestSendsAgainWithThePreviousStatusKept)
{
    AuthExchangeState s = AuthExchangeStart();
    NextAuthStep(s, Ev(AuthEventKind::Begin));
    ExpectStep(Answer407(s, kAuthSchemeNtlm), AuthAction::Send, AuthLog::None);
    ExpectStep(NextAuthStep(s, Ev(AuthEventKind::SendFailedResend)), AuthAction::Send, AuthLog::None);
    EXPECT_EQ(407u, s.previousStatus);
    EXPECT_EQ(kAuthSchemeNtlm, s.scheme);
    // The 407 after the resend is the second in a row: the exchange ends without an error line.
    ExpectStep(Answer407(s, kAuthSchemeNtlm), AuthAction::Leave, AuthLog::None);
}

TEST(AuthExchange, FailedSendStatusQueryOrSchemeQueryLeavesWithTheErrorLine)
{
    AuthExchangeState s = AuthExchangeStart();
    NextAuthStep(s, Ev(AuthEventKind::Begin));
    ExpectStep(NextAuthStep(s, Ev(AuthEventKind::SendFailed)), AuthAction::Leave, AuthLog::ErrorLine);

    s = AuthExchangeStart();
    NextAuthStep(s, Ev(AuthEventKind::Begin));
    NextAuthStep(s, Ev(AuthEventKind::Received));
    ExpectStep(NextAuthStep(s, Ev(AuthEventKind::StatusQueryFailed)), AuthAction::Leave, AuthLog::ErrorLine);

    s = AuthExchangeStart();
    NextAuthStep(s, Ev(AuthEventKind::Begin));
    ExpectStep(Answer(s, 407), AuthAction::QuerySchemes, AuthLog::ProxyAuthLine);
    ExpectStep(NextAuthStep(s, Ev(AuthEventKind::SchemeQueryFailed)), AuthAction::Leave, AuthLog::ErrorLine);
}

TEST(AuthExchange, First407ChoosesTheSchemeAndSendsAgainWithIt)
{
    AuthExchangeState s = AuthExchangeStart();
    NextAuthStep(s, Ev(AuthEventKind::Begin));
    ExpectStep(Answer407(s, kAuthSchemeNtlm | kAuthSchemeNegotiate), AuthAction::Send, AuthLog::None);
    EXPECT_EQ(kAuthSchemeNegotiate, s.scheme);
    EXPECT_EQ(407u, s.previousStatus);
    EXPECT_EQ(2, s.passes);
    ExpectStep(Answer(s, 200), AuthAction::ReadBody, AuthLog::None);
}

TEST(AuthExchange, BasicOnlyProxySendsTwiceLogs407TwiceAndEndsWithoutErrorLine)
{
    AuthExchangeState s = AuthExchangeStart();
    std::vector<AuthLog> logs;
    int sends = 0;
    AuthStep step = NextAuthStep(s, Ev(AuthEventKind::Begin));
    while (step.action != AuthAction::Leave) {
        if (step.action == AuthAction::Send)
            ++sends;
        AuthStep answer = Answer(s, 407);
        logs.push_back(answer.log);
        ASSERT_EQ(AuthAction::QuerySchemes, answer.action);
        step = NextAuthStep(s, Ev(AuthEventKind::SchemesQueried, kAuthSchemeBasic));
        EXPECT_EQ(0u, s.scheme); // no credentials on the next request
        logs.push_back(step.log);
    }
    EXPECT_EQ(2, sends);
    EXPECT_EQ((std::vector<AuthLog>{AuthLog::ProxyAuthLine, AuthLog::None, AuthLog::ProxyAuthLine, AuthLog::None}),
              logs);
}

TEST(AuthExchange, EveryScheme407ReplacesTheChosenScheme)
{
    AuthExchangeState s = AuthExchangeStart();
    NextAuthStep(s, Ev(AuthEventKind::Begin));
    Answer407(s, kAuthSchemeDigest);
    EXPECT_EQ(kAuthSchemeDigest, s.scheme);
    ExpectStep(Answer(s, 401), AuthAction::Send, AuthLog::None);
    ExpectStep(Answer407(s, kAuthSchemeBasic), AuthAction::Send, AuthLog::None);
    EXPECT_EQ(0u, s.scheme);
}

TEST(AuthExchange, OtherStatusLogsItsLineAndLeaves)
{
    for (unsigned status : {503u, 404u, 500u, 301u, 0u}) {
        AuthExchangeState s = AuthExchangeStart();
        NextAuthStep(s, Ev(AuthEventKind::Begin));
        ExpectStep(Answer(s, status), AuthAction::Leave, AuthLog::OtherStatusLine);
        EXPECT_EQ(status, s.status);
    }
}

TEST(AuthExchange, A401IsSentAgainAndTheSecond401InARowEnds)
{
    AuthExchangeState s = AuthExchangeStart();
    NextAuthStep(s, Ev(AuthEventKind::Begin));
    ExpectStep(Answer(s, 401), AuthAction::Send, AuthLog::None);
    ExpectStep(Answer(s, 401), AuthAction::Leave, AuthLog::Repeated401Line);
    EXPECT_EQ(2, s.passes);
}

TEST(AuthExchange, Alternating401And407EndsAfterSixPasses)
{
    AuthExchangeState s = AuthExchangeStart();
    AuthStep step = NextAuthStep(s, Ev(AuthEventKind::Begin));
    int sends = 0;
    for (int pass = 0; step.action == AuthAction::Send; ++pass) {
        ++sends;
        ASSERT_LE(sends, kAuthMaxPasses);
        step = pass % 2 == 0 ? Answer(s, 401) : Answer407(s, kAuthSchemeNtlm);
    }
    EXPECT_EQ(kAuthMaxPasses, sends);
    ExpectStep(step, AuthAction::Leave, AuthLog::PassLimitLine);
}

TEST(AuthExchange, EndlessResendRequestsEndAfterSixPasses)
{
    AuthExchangeState s = AuthExchangeStart();
    AuthStep step = NextAuthStep(s, Ev(AuthEventKind::Begin));
    int sends = 0;
    while (step.action == AuthAction::Send) {
        ++sends;
        ASSERT_LE(sends, kAuthMaxPasses);
        step = NextAuthStep(s, Ev(AuthEventKind::SendFailedResend));
    }
    EXPECT_EQ(kAuthMaxPasses, sends);
    ExpectStep(step, AuthAction::Leave, AuthLog::PassLimitLine);
}

TEST(AuthExchange, Answer407Then200AfterAnIntervening401)
{
    AuthExchangeState s = AuthExchangeStart();
    NextAuthStep(s, Ev(AuthEventKind::Begin));
    ExpectStep(Answer407(s, kAuthSchemeNtlm), AuthAction::Send, AuthLog::None);
    ExpectStep(Answer(s, 401), AuthAction::Send, AuthLog::None);
    // 401 stood between the two 407s: not in a row, so another pass.
    ExpectStep(Answer407(s, kAuthSchemeNtlm), AuthAction::Send, AuthLog::None);
    ExpectStep(Answer(s, 200), AuthAction::ReadBody, AuthLog::None);
}

TEST(HttpStatusRules, ErrorsAre400To599Without407)
{
    EXPECT_FALSE(IsHttpErrorStatus(0));
    EXPECT_FALSE(IsHttpErrorStatus(200));
    EXPECT_FALSE(IsHttpErrorStatus(399));
    EXPECT_TRUE(IsHttpErrorStatus(400));
    EXPECT_TRUE(IsHttpErrorStatus(404));
    EXPECT_FALSE(IsHttpErrorStatus(407));
    EXPECT_TRUE(IsHttpErrorStatus(408));
    EXPECT_TRUE(IsHttpErrorStatus(599));
    EXPECT_FALSE(IsHttpErrorStatus(600));
}

TEST(HttpStatusRules, MessageFormatPerStatus)
{
    EXPECT_STREQ(L"Fehler: HTTP-Statuscode=%d Nicht autorisiert.", HttpStatusMessageFormat(401));
    EXPECT_STREQ(L"Fehler: HTTP-Statuscode=%d Forbidden.", HttpStatusMessageFormat(403));
    EXPECT_STREQ(L"Fehler: HTTP-Statuscode=%d Resource nicht gefunden.", HttpStatusMessageFormat(404));
    EXPECT_STREQ(L"Fehler: HTTP-Statuscode=%d Proxy Authentifizierung notwendig.", HttpStatusMessageFormat(407));
    EXPECT_STREQ(L"Fehler: HTTP-Statuscode=%d Request Timeout.", HttpStatusMessageFormat(408));
    EXPECT_STREQ(L"Fehler: HTTP-Statuscode=%d.", HttpStatusMessageFormat(500));
    EXPECT_STREQ(L"Fehler: HTTP-Statuscode=%d.", HttpStatusMessageFormat(400));
}

TEST(BodyRules, ABodyIsWholeWhenItReachesItsContentLength)
{
    EXPECT_TRUE(BodyIsWhole(false, 0, 12345));
    EXPECT_TRUE(BodyIsWhole(true, 1000, 1000));
    EXPECT_TRUE(BodyIsWhole(true, 0, 0));
    EXPECT_FALSE(BodyIsWhole(true, 1000, 999));
    EXPECT_FALSE(BodyIsWhole(true, 1000, 0));
}
