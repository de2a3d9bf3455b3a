// The bootstrappers a signed run may hand over to: the publisher rule on its own, and the
// signer identities and verdicts of real programs signed by several throw-away publishers
// (tests/integrity/make-publisher-copies.sh).
#include "engine/PublisherTrust.h"
#include "osh/EmbeddedSignature.h"
#include "osh/ScopedHandle.h"
#include "osh/SignerIdentity.h"
#include "support/LogCapture.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Poco::Message;
using testenv::Narrow;
using testsupport::LogCapture;
using osh::SignatureState;
using ziz::PublisherFacts;
using ziz::PublisherVerdict;

// ---------------------------------------------------------------------------------------
// The rule

osh::SignerIdentity Identity(const std::string& subject, const std::string& key,
                             const std::string& algorithm = "1.2.840.113549.1.1.1")
{
    osh::SignerIdentity identity;
    identity.subject.assign(subject.begin(), subject.end());
    identity.subjectText = "CN=" + subject;
    identity.issuerKeyAlgorithm = algorithm;
    identity.issuerKey.assign(key.begin(), key.end());
    return identity;
}

PublisherFacts Facts(SignatureState state, bool known, const osh::SignerIdentity& signer = {})
{
    PublisherFacts facts;
    facts.signature = state;
    facts.signerKnown = known;
    facts.signer = signer;
    return facts;
}

TEST(PublisherRule, SamePublisherMeansSameSubjectAndSameIssuerKey)
{
    const osh::SignerIdentity own = Identity("Norlo", "authority key");
    struct Case {
        osh::SignerIdentity candidate;
        bool same;
    };
    for (const Case& c : {Case{Identity("Norlo", "authority key"), true},
                          Case{Identity("Other", "authority key"), false},
                          Case{Identity("Norlo", "another key"), false},
                          Case{Identity("Norlo", "authority key", "1.2.840.10045.2.1"), false},
                          Case{Identity("Norl", "authority key"), false},
                          Case{Identity("Norlo", "authority ke"), false}}) {
        EXPECT_EQ(c.same, ziz::IsSamePublisher(own, c.candidate)) << c.candidate.subjectText;
    }
    // Two identities that were never read are not a match.
    EXPECT_FALSE(ziz::IsSamePublisher(osh::SignerIdentity(), osh::SignerIdentity()));
}

TEST(PublisherRule, VerdictTable)
{
    const osh::SignerIdentity norlo = Identity("Norlo", "authority key");
    const osh::SignerIdentity other = Identity("Other", "other key");
    const SignatureState absent = SignatureState::Absent, valid = SignatureState::Valid,
                         invalid = SignatureState::Invalid;
    struct Case {
        const char* name;
        PublisherFacts own;
        PublisherFacts candidate;
        bool testBuild;
        PublisherVerdict verdict;
        bool accepted;
    };
    for (const Case& c : {
             Case{"unsigned test build, unsigned candidate", Facts(absent, false), Facts(absent, false), true,
                  PublisherVerdict::Unchecked, true},
             Case{"unsigned test build, anybody's", Facts(absent, false), Facts(valid, true, other), true,
                  PublisherVerdict::Unchecked, true},
             Case{"unsigned vendor build", Facts(absent, false), Facts(valid, true, norlo), false,
                  PublisherVerdict::OwnUnsigned, false},
             Case{"own signature damaged", Facts(invalid, false), Facts(valid, true, other), true,
                  PublisherVerdict::OwnSignatureInvalid, false},
             Case{"own signature damaged, same signer", Facts(invalid, true, norlo), Facts(valid, true, norlo), false,
                  PublisherVerdict::OwnSignatureInvalid, false},
             Case{"same publisher", Facts(valid, true, norlo), Facts(valid, true, norlo), false,
                  PublisherVerdict::SamePublisher, true},
             Case{"other publisher", Facts(valid, true, norlo), Facts(valid, true, other), true,
                  PublisherVerdict::OtherPublisher, false},
             Case{"unsigned candidate", Facts(valid, true, norlo), Facts(absent, false), true,
                  PublisherVerdict::InvalidSignature, false},
             Case{"altered candidate of the same signer", Facts(valid, true, norlo), Facts(invalid, true, norlo), false,
                  PublisherVerdict::InvalidSignature, false},
             Case{"intact but unreadable signer", Facts(valid, true, norlo), Facts(valid, false), false,
                  PublisherVerdict::UnknownSigner, false},
             Case{"own signer unreadable", Facts(valid, false), Facts(valid, true, norlo), true,
                  PublisherVerdict::OwnPublisherUnknown, false},
         }) {
        const PublisherVerdict verdict = ziz::JudgePublisher(c.own, c.candidate, c.testBuild);
        EXPECT_EQ(c.verdict, verdict) << c.name;
        EXPECT_EQ(c.accepted, ziz::IsAccepted(verdict)) << c.name;
    }
}

// Only a program without any signature leaves the components unchecked, and only a test
// build without one stays silent about bootstrappers.
TEST(PublisherRule, ComponentChecksAndTheOwnLine)
{
    PublisherFacts damaged = Facts(SignatureState::Invalid, false);
    damaged.reason = "its signature does not verify (0x80096010)";
    PublisherFacts unreadable = Facts(SignatureState::Valid, false);
    unreadable.reason = "Could not read the signer of x.exe: no signer (error 0x80092004)";
    EXPECT_FALSE(ziz::RequiresSignatures(Facts(SignatureState::Absent, false)));
    EXPECT_TRUE(ziz::RequiresSignatures(damaged));
    EXPECT_TRUE(ziz::RequiresSignatures(unreadable));
    EXPECT_TRUE(ziz::RequiresSignatures(Facts(SignatureState::Valid, true, Identity("Norlo", "key"))));

    EXPECT_EQ("", ziz::OwnRefusalLine(Facts(SignatureState::Absent, false), true));
    EXPECT_EQ("This program is not signed; no other bootstrapper is accepted",
              ziz::OwnRefusalLine(Facts(SignatureState::Absent, false), false));
    EXPECT_EQ("This program's own signature does not verify: its signature does not verify (0x80096010); no other "
              "bootstrapper is accepted and every component's signature is checked",
              ziz::OwnRefusalLine(damaged, true));
    EXPECT_EQ("Could not read the publisher of this program: Could not read the signer of x.exe: no signer (error "
              "0x80092004); no other bootstrapper is accepted",
              ziz::OwnRefusalLine(unreadable, true));
    EXPECT_EQ("", ziz::OwnRefusalLine(Facts(SignatureState::Valid, true, Identity("Norlo", "key")), false));
}

// ---------------------------------------------------------------------------------------
// Real signatures

std::wstring Copy(const std::wstring& name) { return testenv::BuildDirectory() + L"\\tests\\publishers\\" + name; }

osh::SignerIdentity Signer(const wchar_t* name)
{
    const osh::VerifiedSignature verified = osh::VerifyEmbeddedSignature(Copy(name));
    EXPECT_EQ(SignatureState::Valid, verified.state) << Narrow(name) << ": " << verified.reason;
    EXPECT_TRUE(verified.signerKnown) << verified.signerFailure;
    return verified.signer;
}

// The rule of a program of the given file, read through the open file as the running
// program's is.
ziz::PublisherTrust TrustOf(const wchar_t* name, bool testBuild)
{
    const std::wstring path = Copy(name);
    osh::ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(file) << Narrow(path);
    return ziz::PublisherTrust(file.get(), path, testBuild);
}

TEST(PublisherIdentity, SubjectAndIssuerKeyOfEachSigner)
{
    const osh::SignerIdentity publisher = Signer(L"plain.publisher.exe");
    EXPECT_EQ("CN=Norlo test publisher", publisher.subjectText);
    EXPECT_EQ("1.2.840.113549.1.1.1", publisher.issuerKeyAlgorithm);
    EXPECT_GT(publisher.issuerKey.size(), 256u);  // a 2048-bit key with its encoding

    // Same name, own key: the subject alone would have matched.
    const osh::SignerIdentity impostor = Signer(L"plain.impostor.exe");
    EXPECT_EQ(publisher.subject, impostor.subject);
    EXPECT_NE(publisher.issuerKey, impostor.issuerKey);
    EXPECT_EQ("CN=Other test publisher", Signer(L"plain.other.exe").subjectText);

    // A renewed certificate from the same authority: new key and serial, same identity.
    const osh::SignerIdentity issued1 = Signer(L"plain.issued1.exe");
    const osh::SignerIdentity issued2 = Signer(L"plain.issued2.exe");
    EXPECT_EQ("CN=Norlo issued publisher", issued1.subjectText);
    EXPECT_EQ(issued1.subject, issued2.subject);
    EXPECT_EQ(issued1.issuerKey, issued2.issuerKey);
    // An authority that took the real one's name has its own key.
    const osh::SignerIdentity rogue = Signer(L"plain.rogue.exe");
    EXPECT_EQ(issued1.subject, rogue.subject);
    EXPECT_NE(issued1.issuerKey, rogue.issuerKey);
}

// Only an empty certificate table is "no signature"; whatever else fails to verify is a
// signature that is there and bad, and no signer is read from what did not verify.
TEST(PublisherIdentity, AbsentDamagedAndUnverifiedSignaturesGiveNoIdentity)
{
    struct Case {
        const wchar_t* name;
        SignatureState state;
        std::string reason;  // the start of it
    };
    for (const Case& c : {Case{L"plain.unsigned.exe", SignatureState::Absent, "it carries no signature"},
                          Case{L"plain.tampered.exe", SignatureState::Invalid, "its signature does not verify (0x"},
                          Case{L"missing.exe", SignatureState::Invalid, "it cannot be opened (error 0x00000002)"},
                          Case{L"certs\\publisher.crt", SignatureState::Invalid, "not a program whose headers can be read"}}) {
        const osh::VerifiedSignature verified = osh::VerifyEmbeddedSignature(Copy(c.name));
        EXPECT_EQ(c.state, verified.state) << Narrow(c.name);
        EXPECT_EQ(0u, verified.reason.find(c.reason)) << Narrow(c.name) << ": " << verified.reason;
        EXPECT_FALSE(verified.signerKnown) << Narrow(c.name);
    }
    // Carries the real authority's certificate, but another key signed it.
    const osh::VerifiedSignature forged = osh::VerifyEmbeddedSignature(Copy(L"plain.forged.exe"));
    EXPECT_EQ(SignatureState::Valid, forged.state) << "Wine's trust provider accepts any intact signature";
    EXPECT_FALSE(forged.signerKnown);
    EXPECT_EQ("Could not read the signer of " + Narrow(Copy(L"plain.forged.exe")) +
                  ": no carried certificate of the issuer signed the signing certificate (error 0x80092004)",
              forged.signerFailure);
}

TEST(PublisherTrust, SignedProgramAcceptsOnlyItsOwnPublisher)
{
    ziz::PublisherTrust trust = TrustOf(L"plain.publisher.exe", false);
    ASSERT_EQ(SignatureState::Valid, trust.Own().signature);
    ASSERT_TRUE(trust.Own().signerKnown);
    const std::string publisher = " refused: not signed by this program's publisher \"CN=Norlo test publisher\"; signer ";
    struct Case {
        const wchar_t* name;
        bool accepted;
        std::string line;  // after the path
    };
    for (const Case& c : {Case{L"next.publisher.exe", true, ""},
                          Case{L"next.other.exe", false, publisher + "\"CN=Other test publisher\""},
                          Case{L"next.impostor.exe", false, publisher + "\"CN=Norlo test publisher\""},
                          Case{L"next.issued1.exe", false, publisher + "\"CN=Norlo issued publisher\""},
                          Case{L"next.unsigned.exe", false, " refused: signature not valid; signer unknown"},
                          Case{L"next.tampered.exe", false, " refused: signature not valid; signer unknown"},
                          Case{L"missing.exe", false, " refused: signature not valid; signer unknown"}}) {
        LogCapture log;
        EXPECT_EQ(c.accepted, trust.Accepts(Copy(c.name))) << Narrow(c.name);
        if (c.accepted) {
            EXPECT_TRUE(log.Lines().empty()) << Narrow(c.name);
        } else {
            ASSERT_EQ(1u, log.Lines().size()) << Narrow(c.name);
            EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Bootstrapper " + Narrow(Copy(c.name)) + c.line))
                << log.Lines().front().text;
        }
    }
    EXPECT_TRUE(ziz::RequiresSignatures(trust.Own()));
}

TEST(PublisherTrust, RenewedCertificateOfTheSameAuthorityIsTheSamePublisher)
{
    ziz::PublisherTrust trust = TrustOf(L"plain.issued1.exe", false);
    LogCapture log;
    EXPECT_TRUE(trust.Accepts(Copy(L"next.issued2.exe")));
    EXPECT_TRUE(trust.Accepts(Copy(L"next.issued1.exe")));
    EXPECT_FALSE(trust.Accepts(Copy(L"next.rogue.exe")));
    EXPECT_FALSE(trust.Accepts(Copy(L"next.forged.exe")));
    EXPECT_FALSE(trust.Accepts(Copy(L"next.publisher.exe")));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Bootstrapper " + Narrow(Copy(L"next.forged.exe")) +
                                                        " refused: its certificates do not verify; signer unknown"));
    EXPECT_EQ(3u, log.Lines().size());
}

TEST(PublisherTrust, UnsignedTestBuildAcceptsEveryoneAndSaysOnceThatItCannotCheck)
{
    LogCapture log;
    ziz::PublisherTrust trust = TrustOf(L"plain.unsigned.exe", true);
    for (const wchar_t* name : {L"next.other.exe", L"next.unsigned.exe", L"next.tampered.exe"}) {
        EXPECT_TRUE(trust.Accepts(Copy(name))) << Narrow(name);
    }
    ASSERT_EQ(1u, log.Lines().size());
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING,
                             "This program is not signed: the publisher of another bootstrapper cannot be checked"));
    EXPECT_FALSE(ziz::RequiresSignatures(trust.Own()));
}

TEST(PublisherTrust, UnsignedVendorBuildAcceptsNobody)
{
    LogCapture log;
    ziz::PublisherTrust trust = TrustOf(L"plain.unsigned.exe", false);
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "This program is not signed; no other bootstrapper is accepted"));
    EXPECT_FALSE(trust.Accepts(Copy(L"next.publisher.exe")));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Bootstrapper " + Narrow(Copy(L"next.publisher.exe")) +
                                                        " refused: this program is not signed; signer "
                                                        "\"CN=Norlo test publisher\""));
    EXPECT_FALSE(trust.Accepts(Copy(L"next.unsigned.exe")));
}

TEST(PublisherTrust, SignedProgramWhoseSignerCannotBeReadAcceptsNobody)
{
    LogCapture log;
    ziz::PublisherTrust trust = TrustOf(L"plain.forged.exe", true);
    ASSERT_EQ(SignatureState::Valid, trust.Own().signature) << "Wine's trust provider accepts any intact signature";
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR,
                             "Could not read the publisher of this program: Could not read the signer of " +
                                 Narrow(Copy(L"plain.forged.exe")) +
                                 ": no carried certificate of the issuer signed the signing certificate (error "
                                 "0x80092004); no other bootstrapper is accepted"));
    EXPECT_FALSE(trust.Accepts(Copy(L"next.forged.exe")));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Bootstrapper " + Narrow(Copy(L"next.forged.exe")) +
                                                        " refused: this program's own publisher is unknown; signer "
                                                        "unknown"));
    EXPECT_FALSE(trust.Accepts(Copy(L"next.publisher.exe")));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Bootstrapper " + Narrow(Copy(L"next.publisher.exe")) +
                                                        " refused: this program's own publisher is unknown; signer "
                                                        "\"CN=Norlo test publisher\""));
    EXPECT_TRUE(ziz::RequiresSignatures(trust.Own()));
}

// A damaged signature is no development build: even a test build then hands over to
// nobody, says why once, and keeps checking every component's signature.
TEST(PublisherTrust, ProgramWhoseOwnSignatureWasDamagedAcceptsNobody)
{
    LogCapture log;
    ziz::PublisherTrust trust = TrustOf(L"plain.tampered.exe", true);
    EXPECT_EQ(SignatureState::Invalid, trust.Own().signature);
    ASSERT_EQ(1u, log.Lines().size());
    EXPECT_EQ(0u, log.Lines().front().text.find("This program's own signature does not verify: its signature does "
                                                 "not verify (0x"))
        << log.Lines().front().text;
    EXPECT_NE(std::string::npos, log.Lines().front().text.find(
                                     "); no other bootstrapper is accepted and every component's signature is checked"));
    struct Case {
        const wchar_t* name;
        std::string signer;
    };
    for (const Case& c : {Case{L"next.other.exe", "\"CN=Other test publisher\""},
                          Case{L"next.publisher.exe", "\"CN=Norlo test publisher\""},
                          Case{L"next.unsigned.exe", "unknown"}}) {
        EXPECT_FALSE(trust.Accepts(Copy(c.name))) << Narrow(c.name);
        EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Bootstrapper " + Narrow(Copy(c.name)) +
                                                            " refused: this program's own signature does not verify; "
                                                            "signer " + c.signer))
            << Narrow(c.name);
    }
    EXPECT_TRUE(ziz::RequiresSignatures(trust.Own()));
}

// A certificate that expired in 2020: without a timestamp its signature no longer holds on
// Windows, and the program then hands over to nobody; Wine's provider ignores the dates, so
// here the program counts as signed by that publisher and refuses every other one. With a
// timestamp of January 2020 the signature holds everywhere.
TEST(PublisherTrust, ExpiredCertificateWithoutATimestampHandsOverToNoOtherPublisher)
{
    LogCapture log;
    ziz::PublisherTrust expired = TrustOf(L"plain.expired.exe", false);
    EXPECT_TRUE(ziz::RequiresSignatures(expired.Own()));
    EXPECT_FALSE(expired.Accepts(Copy(L"next.other.exe")));
    const std::string refused = "Bootstrapper " + Narrow(Copy(L"next.other.exe")) + " refused: ";
    const std::string why = expired.Own().signature == SignatureState::Valid
                                ? "not signed by this program's publisher \"CN=Norlo expired publisher\""
                                : "this program's own signature does not verify";
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, refused + why + "; signer \"CN=Other test publisher\""));

    ziz::PublisherTrust stamped = TrustOf(L"plain.stamped.exe", false);
    ASSERT_EQ(SignatureState::Valid, stamped.Own().signature) << stamped.Own().reason;
    EXPECT_EQ("CN=Norlo expired publisher", stamped.Own().signer.subjectText);
    EXPECT_TRUE(stamped.Accepts(Copy(L"next.stamped.exe")));
    EXPECT_FALSE(stamped.Accepts(Copy(L"next.other.exe")));
}

}  // namespace
