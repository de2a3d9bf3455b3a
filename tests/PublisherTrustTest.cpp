// The bootstrappers a signed run may hand over to: the publisher rule on its own, and the
// signer identities and verdicts of real programs signed by several throw-away publishers
// (tests/integrity/make-publisher-copies.sh).
#include "engine/PublisherTrust.h"
#include "osh/Signature.h"
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

PublisherFacts Facts(bool valid, bool known, const osh::SignerIdentity& signer = {})
{
    PublisherFacts facts;
    facts.signatureValid = valid;
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
    struct Case {
        const char* name;
        PublisherFacts own;
        PublisherFacts candidate;
        PublisherVerdict verdict;
        bool accepted;
    };
    for (const Case& c : {
             Case{"unsigned own, unsigned candidate", Facts(false, false), Facts(false, false),
                  PublisherVerdict::Unchecked, true},
             Case{"unsigned own, anybody's", Facts(false, false), Facts(true, true, other), PublisherVerdict::Unchecked,
                  true},
             Case{"same publisher", Facts(true, true, norlo), Facts(true, true, norlo), PublisherVerdict::SamePublisher,
                  true},
             Case{"other publisher", Facts(true, true, norlo), Facts(true, true, other), PublisherVerdict::OtherPublisher,
                  false},
             Case{"unsigned candidate", Facts(true, true, norlo), Facts(false, false), PublisherVerdict::InvalidSignature,
                  false},
             Case{"altered candidate of the same signer", Facts(true, true, norlo), Facts(false, true, norlo),
                  PublisherVerdict::InvalidSignature, false},
             Case{"intact but unreadable signer", Facts(true, true, norlo), Facts(true, false),
                  PublisherVerdict::UnknownSigner, false},
             Case{"own signer unreadable", Facts(true, false), Facts(true, true, norlo),
                  PublisherVerdict::OwnPublisherUnknown, false},
         }) {
        const PublisherVerdict verdict = ziz::JudgePublisher(c.own, c.candidate);
        EXPECT_EQ(c.verdict, verdict) << c.name;
        EXPECT_EQ(c.accepted, ziz::IsAccepted(verdict)) << c.name;
    }
}

// ---------------------------------------------------------------------------------------
// Real signatures

std::wstring Copy(const std::wstring& name) { return testenv::BuildDirectory() + L"\\tests\\publishers\\" + name; }

TEST(PublisherIdentity, SubjectAndIssuerKeyOfEachSigner)
{
    const osh::SignerIdentity publisher = osh::ReadSignerIdentity(Copy(L"plain.publisher.exe"));
    EXPECT_EQ("CN=Norlo test publisher", publisher.subjectText);
    EXPECT_EQ("1.2.840.113549.1.1.1", publisher.issuerKeyAlgorithm);
    EXPECT_GT(publisher.issuerKey.size(), 256u);  // a 2048-bit key with its encoding

    // Same name, own key: the subject alone would have matched.
    const osh::SignerIdentity impostor = osh::ReadSignerIdentity(Copy(L"plain.impostor.exe"));
    EXPECT_EQ(publisher.subject, impostor.subject);
    EXPECT_NE(publisher.issuerKey, impostor.issuerKey);
    EXPECT_EQ("CN=Other test publisher", osh::ReadSignerIdentity(Copy(L"plain.other.exe")).subjectText);

    // A renewed certificate from the same authority: new key and serial, same identity.
    const osh::SignerIdentity issued1 = osh::ReadSignerIdentity(Copy(L"plain.issued1.exe"));
    const osh::SignerIdentity issued2 = osh::ReadSignerIdentity(Copy(L"plain.issued2.exe"));
    EXPECT_EQ("CN=Norlo issued publisher", issued1.subjectText);
    EXPECT_EQ(issued1.subject, issued2.subject);
    EXPECT_EQ(issued1.issuerKey, issued2.issuerKey);
    // An authority that took the real one's name has its own key.
    const osh::SignerIdentity rogue = osh::ReadSignerIdentity(Copy(L"plain.rogue.exe"));
    EXPECT_EQ(issued1.subject, rogue.subject);
    EXPECT_NE(issued1.issuerKey, rogue.issuerKey);

    // Altered after signing: the signer is still there; CheckFileSignature says it no longer covers the file.
    EXPECT_EQ(publisher.issuerKey, osh::ReadSignerIdentity(Copy(L"plain.tampered.exe")).issuerKey);
}

TEST(PublisherIdentity, NoSignatureOrAnIssuerThatDidNotSignGivesNoIdentity)
{
    struct Case {
        const wchar_t* name;
        const char* reason;
    };
    for (const Case& c : {Case{L"plain.unsigned.exe", ": no embedded signature (error 0x"},
                          // Carries the real authority's certificate, but another key signed it.
                          Case{L"plain.forged.exe",
                               ": no carried certificate of the issuer signed the signing certificate (error 0x80092004)"},
                          Case{L"missing.exe", ": no embedded signature (error 0x"}}) {
        const std::wstring path = Copy(c.name);
        try {
            osh::ReadSignerIdentity(path);
            ADD_FAILURE() << "no exception for " << Narrow(c.name);
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(0u, std::string(error.what()).find("Could not read the signer of " + Narrow(path) + c.reason))
                << error.what();
        }
    }
}

TEST(PublisherTrust, SignedProgramAcceptsOnlyItsOwnPublisher)
{
    ziz::PublisherTrust trust(Copy(L"plain.publisher.exe"));
    ASSERT_TRUE(trust.Own().signatureValid);
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
                          Case{L"next.tampered.exe", false, " refused: signature not valid; signer \"CN=Norlo test publisher\""}}) {
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
}

TEST(PublisherTrust, RenewedCertificateOfTheSameAuthorityIsTheSamePublisher)
{
    ziz::PublisherTrust trust(Copy(L"plain.issued1.exe"));
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

TEST(PublisherTrust, UnsignedProgramAcceptsEveryoneAndSaysOnceThatItCannotCheck)
{
    LogCapture log;
    ziz::PublisherTrust trust(Copy(L"plain.unsigned.exe"));
    for (const wchar_t* name : {L"next.other.exe", L"next.unsigned.exe", L"next.tampered.exe"}) {
        EXPECT_TRUE(trust.Accepts(Copy(name))) << Narrow(name);
    }
    ASSERT_EQ(1u, log.Lines().size());
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING,
                             "This program is not signed: the publisher of another bootstrapper cannot be checked"));
}

TEST(PublisherTrust, SignedProgramWhoseSignerCannotBeReadAcceptsNobody)
{
    LogCapture log;
    ziz::PublisherTrust trust(Copy(L"plain.forged.exe"));
    ASSERT_TRUE(trust.Own().signatureValid) << "Wine's trust provider accepts any intact signature";
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Could not read the publisher of " + Narrow(Copy(L"plain.forged.exe")) +
                                                      "; no other bootstrapper is accepted"));
    EXPECT_FALSE(trust.Accepts(Copy(L"next.forged.exe")));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING,
                             "Bootstrapper " + Narrow(Copy(L"next.forged.exe")) +
                                 " refused: its certificates do not verify; signer unknown"));
    EXPECT_FALSE(trust.Accepts(Copy(L"next.publisher.exe")));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Bootstrapper " + Narrow(Copy(L"next.publisher.exe")) +
                                                        " refused: this program's own publisher is unknown; signer "
                                                        "\"CN=Norlo test publisher\""));
}

}  // namespace
