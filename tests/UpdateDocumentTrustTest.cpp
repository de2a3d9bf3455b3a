// The update documents a run believes: the rule on its own, the claims of the root element,
// and the system's verification of documents signed by the throw-away publishers
// (tests/integrity/make-signed-documents.py).
#include "engine/trust/AcceptedDocuments.h"
#include "engine/trust/DocumentClaims.h"
#include "engine/trust/UpdateDocumentTrust.h"
#include "osh/DetachedSignature.h"
#include "osh/EmbeddedSignature.h"
#include "support/StateFiles.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using osh::SignatureState;
using ziz::DocumentVerdict;

std::vector<char> Bytes(const std::string& text) { return std::vector<char>(text.begin(), text.end()); }

osh::SignerIdentity Identity(const std::string& subject, const std::string& key)
{
    osh::SignerIdentity identity;
    identity.subject.assign(subject.begin(), subject.end());
    identity.subjectText = "CN=" + subject;
    identity.issuerKeyAlgorithm = "1.2.840.113549.1.1.1";
    identity.issuerKey.assign(key.begin(), key.end());
    return identity;
}

// ---------------------------------------------------------------------------------------
// The rule

const long long kNow = 1800000000;  // 2027-01-15

ziz::DocumentEvidence Signed(const osh::SignerIdentity& signer, unsigned long long serial = 42,
                             const std::string& product = "Norlo 5", long long expires = kNow + 86400)
{
    ziz::DocumentEvidence evidence;
    evidence.signaturePresent = evidence.signatureValid = evidence.signerKnown = evidence.claimsRead = true;
    evidence.signer = signer;
    evidence.claims.serial = serial;
    evidence.claims.product = product;
    evidence.claims.expires = expires;
    return evidence;
}

ziz::DocumentExpectations Expect(const osh::SignerIdentity& own, unsigned long long highest = 42)
{
    ziz::DocumentExpectations expectations;
    expectations.own.signature = SignatureState::Valid;
    expectations.own.signerKnown = true;
    expectations.own.signer = own;
    expectations.product = "Norlo 5";
    expectations.now = kNow;
    expectations.seenBefore = true;
    expectations.highestSerial = highest;
    return expectations;
}

TEST(DocumentRule, VerdictTable)
{
    const osh::SignerIdentity norlo = Identity("Norlo", "authority key");
    const osh::SignerIdentity next = Identity("Next", "next authority key");
    ziz::AnnouncedPublisher announcedNext{next.subject, ziz::IssuerKeySha256(next)};

    ziz::DocumentExpectations unsignedTestBuild = Expect(norlo);
    unsignedTestBuild.own.signature = SignatureState::Absent;
    unsignedTestBuild.unsignedAccepted = true;
    ziz::DocumentExpectations unsignedVendorBuild = unsignedTestBuild;
    unsignedVendorBuild.unsignedAccepted = false;
    ziz::DocumentExpectations damagedOwn = Expect(norlo);
    damagedOwn.own.signature = SignatureState::Invalid;
    ziz::DocumentExpectations firstRun = Expect(norlo);
    firstRun.seenBefore = false;
    ziz::DocumentExpectations announcing = Expect(norlo);
    announcing.announced.push_back(announcedNext);

    ziz::DocumentEvidence none;
    ziz::DocumentEvidence altered = Signed(norlo);
    altered.signatureValid = altered.signerKnown = false;
    ziz::DocumentEvidence noIssuer = Signed(norlo);
    noIssuer.signerKnown = false;
    ziz::DocumentEvidence noSerial = Signed(norlo);
    noSerial.claimsRead = false;
    noSerial.claimsProblem = "no readable serial";
    ziz::DocumentEvidence otherUnreadable = Signed(Identity("Other", "other key"));
    otherUnreadable.claimsRead = false;

    struct Case {
        const char* name;
        ziz::DocumentEvidence evidence;
        ziz::DocumentExpectations expectations;
        DocumentVerdict verdict;
        std::string line;
    };
    const std::string refused = "Update document refused: ";
    for (const Case& c : {
             Case{"unsigned test build takes anything", none, unsignedTestBuild, DocumentVerdict::Unchecked,
                  "This program is not signed: the update document is used without checking who signed it"},
             Case{"unsigned vendor build takes nothing", Signed(norlo), unsignedVendorBuild,
                  DocumentVerdict::OwnUnusable, refused + "this program is not signed"},
             Case{"damaged own signature", Signed(norlo), damagedOwn, DocumentVerdict::OwnUnusable,
                  refused + "this program's own publisher is unknown"},
             Case{"no signature", none, Expect(norlo), DocumentVerdict::Unsigned, refused + "it carries no signature"},
             Case{"altered", altered, Expect(norlo), DocumentVerdict::BadSignature,
                  refused + "signature does not match its content"},
             Case{"issuer not carried", noIssuer, Expect(norlo), DocumentVerdict::UnknownSigner,
                  refused + "its signer's certificates do not verify"},
             Case{"another publisher", Signed(Identity("Other", "other key")), Expect(norlo),
                  DocumentVerdict::OtherPublisher, refused + "signed by \"CN=Other\" (not this publisher)"},
             // The claims of somebody else's document are never read out.
             Case{"another publisher, unreadable", otherUnreadable, Expect(norlo), DocumentVerdict::OtherPublisher,
                  refused + "signed by \"CN=Other\" (not this publisher)"},
             Case{"our name, another authority", Signed(Identity("Norlo", "rogue key")), Expect(norlo),
                  DocumentVerdict::OtherPublisher, refused + "signed by \"CN=Norlo\" (not this publisher)"},
             Case{"unannounced next", Signed(next), Expect(norlo), DocumentVerdict::OtherPublisher,
                  refused + "signed by \"CN=Next\" (not this publisher)"},
             Case{"no serial", noSerial, Expect(norlo), DocumentVerdict::Unreadable, refused + "no readable serial"},
             Case{"another product", Signed(norlo, 42, "Norlo 6"), Expect(norlo), DocumentVerdict::OtherProduct,
                  refused + "for another product"},
             Case{"expired", Signed(norlo, 42, "Norlo 5", 1798761600), Expect(norlo),
                  DocumentVerdict::Expired, refused + "expired on 2027-01-01"},
             Case{"expired beyond the tolerance", Signed(norlo, 42, "Norlo 5", kNow - 301), Expect(norlo),
                  DocumentVerdict::Expired, refused + "expired on 2027-01-15"},
             Case{"within the clock tolerance", Signed(norlo, 42, "Norlo 5", kNow - 300), Expect(norlo),
                  DocumentVerdict::Accepted, "Update document accepted: serial 42, expires on 2027-01-15"},
             Case{"replayed", Signed(norlo, 41), Expect(norlo), DocumentVerdict::Older,
                  refused + "serial 41 is older than 42 already seen"},
             Case{"the same again", Signed(norlo, 42), Expect(norlo), DocumentVerdict::Accepted,
                  "Update document accepted: serial 42, expires on 2027-01-16"},
             Case{"newer", Signed(norlo, 43), Expect(norlo), DocumentVerdict::Accepted,
                  "Update document accepted: serial 43, expires on 2027-01-16"},
             Case{"first on this machine", Signed(norlo, 1), firstRun, DocumentVerdict::Accepted,
                  "Update document accepted: serial 1, expires on 2027-01-16"},
             Case{"announced next", Signed(next, 43), announcing, DocumentVerdict::AcceptedAnnounced,
                  "Update document accepted: serial 43, expires on 2027-01-16, signed by the announced publisher "
                  "\"CN=Next\""},
             Case{"announced next, replayed", Signed(next, 40), announcing, DocumentVerdict::Older,
                  refused + "serial 40 is older than 42 already seen"},
         }) {
        const ziz::DocumentDecision decision = ziz::JudgeDocument(c.evidence, c.expectations);
        EXPECT_EQ(c.verdict, decision.verdict) << c.name;
        EXPECT_EQ(c.line, decision.line) << c.name;
        EXPECT_EQ(c.verdict == DocumentVerdict::Unchecked || c.verdict == DocumentVerdict::Accepted ||
                      c.verdict == DocumentVerdict::AcceptedAnnounced,
                  ziz::IsAccepted(decision.verdict))
            << c.name;
    }
}

TEST(DocumentRule, AnnouncedMeansSameSubjectAndTheAnnouncedIssuerKey)
{
    const osh::SignerIdentity next = Identity("Next", "next authority key");
    const std::vector<ziz::AnnouncedPublisher> announced{{next.subject, ziz::IssuerKeySha256(next)}};
    EXPECT_TRUE(ziz::IsAnnounced(next, announced));
    EXPECT_FALSE(ziz::IsAnnounced(Identity("Next", "another key"), announced));
    EXPECT_FALSE(ziz::IsAnnounced(Identity("Nex", "next authority key"), announced));
    EXPECT_FALSE(ziz::IsAnnounced(next, {}));
    EXPECT_FALSE(ziz::IsAnnounced(osh::SignerIdentity(), {{{}, ziz::IssuerKeySha256(osh::SignerIdentity())}}));
    EXPECT_EQ(64u, ziz::IssuerKeySha256(next).size());
}

// ---------------------------------------------------------------------------------------
// The claims

std::string Root(const std::string& attributes) { return "<?xml version=\"1.0\"?><Installer" + attributes + "><x/></Installer>"; }

TEST(DocumentClaims, RootAttributes)
{
    const std::string key(64, 'a');
    ziz::DocumentClaims claims;
    std::string problem;
    ASSERT_TRUE(ziz::ReadDocumentClaims(
        Bytes(Root(" serial=\"42\" product=\"Norlo 5\" expires=\"2027-03-01T00:00:00Z\" nextPublisherSubject=\"300a\" "
                   "nextPublisherIssuerKey=\"" + key + "\"")),
        claims, problem))
        << problem;
    EXPECT_EQ(42u, claims.serial);
    EXPECT_EQ("Norlo 5", claims.product);
    EXPECT_EQ("2027-03-01", ziz::UtcDate(claims.expires));
    EXPECT_TRUE(claims.announcesNext);
    EXPECT_EQ((std::vector<unsigned char>{0x30, 0x0a}), claims.next.subject);
    EXPECT_EQ(key, claims.next.issuerKeySha256);

    const std::string good = " product=\"Norlo 5\" expires=\"2027-03-01T00:00:00Z\"";
    struct Case {
        std::string document;
        std::string problem;
    };
    for (const Case& c : {Case{Root(good), "no readable serial"},
                          Case{Root(" serial=\"\"" + good), "no readable serial"},
                          Case{Root(" serial=\"042\"" + good), "no readable serial"},
                          Case{Root(" serial=\"-1\"" + good), "no readable serial"},
                          Case{Root(" serial=\"4 2\"" + good), "no readable serial"},
                          Case{Root(" serial=\"1234567890123456789\"" + good), "no readable serial"},
                          Case{Root(" serial=\"1\" expires=\"2027-03-01T00:00:00Z\""), "no product"},
                          Case{Root(" serial=\"1\" product=\"Norlo 5\""), "no readable expiry"},
                          Case{Root(" serial=\"1\" product=\"Norlo 5\" expires=\"2027-03-01\""), "no readable expiry"},
                          Case{Root(" serial=\"1\" product=\"Norlo 5\" expires=\"2027-13-01T00:00:00Z\""),
                               "no readable expiry"},
                          Case{Root(" serial=\"1\"" + good + " nextPublisherSubject=\"300a\""),
                               "a malformed next publisher"},
                          Case{Root(" serial=\"1\"" + good + " nextPublisherSubject=\"30a\" nextPublisherIssuerKey=\"" +
                                    key + "\""),
                               "a malformed next publisher"},
                          Case{Root(" serial=\"1\"" + good + " nextPublisherSubject=\"300a\" nextPublisherIssuerKey=\"" +
                                    std::string(64, 'A') + "\""),
                               "a malformed next publisher"},
                          Case{"<Installer serial=\"1\"", "no readable serial"},
                          Case{"", "no readable serial"}}) {
        ziz::DocumentClaims read;
        std::string why;
        EXPECT_FALSE(ziz::ReadDocumentClaims(Bytes(c.document), read, why)) << c.document;
        EXPECT_EQ(c.problem, why) << c.document;
    }
}

TEST(DocumentClaims, TimesAndTheRecordText)
{
    long long seconds = -1;
    EXPECT_TRUE(ziz::ParseUtcTime("1970-01-01T00:00:00Z", seconds));
    EXPECT_EQ(0, seconds);
    EXPECT_TRUE(ziz::ParseUtcTime("2024-02-29T23:59:59Z", seconds));
    EXPECT_EQ(1709251199, seconds);
    EXPECT_EQ("2024-02-29", ziz::UtcDate(seconds));
    EXPECT_EQ("2024-03-01", ziz::UtcDate(seconds + 1));
    for (const char* bad : {"2024-02-29 23:59:59Z", "2024-02-29T23:59:59", "2024-02-29T24:00:00Z", "24-02-29T23:59:59Z"})
        EXPECT_FALSE(ziz::ParseUtcTime(bad, seconds)) << bad;

    const std::vector<ziz::AnnouncedPublisher> publishers{{{0x30, 0x0a}, std::string(64, 'b')},
                                                          {{0x31}, std::string(64, 'c')}};
    const std::string text = ziz::PublishersText(publishers);
    EXPECT_EQ("300a/" + std::string(64, 'b') + ";31/" + std::string(64, 'c'), text);
    const std::vector<ziz::AnnouncedPublisher> read = ziz::ReadPublishersText(text + ";zz/short;/" + std::string(64, 'd'));
    ASSERT_EQ(2u, read.size());
    EXPECT_EQ(publishers[1].subject, read[1].subject);
    EXPECT_EQ(publishers[1].issuerKeySha256, read[1].issuerKeySha256);
}

// ---------------------------------------------------------------------------------------
// Real signatures

std::vector<char> File(const std::wstring& name)
{
    return Bytes(testsupport::ReadTextFile(testenv::BuildDirectory() + L"\\tests\\documents\\" + name));
}

osh::SignerIdentity ProgramSigner(const wchar_t* name)
{
    const osh::VerifiedSignature verified =
        osh::VerifyEmbeddedSignature(testenv::BuildDirectory() + L"\\tests\\publishers\\" + name);
    EXPECT_TRUE(verified.signerKnown) << verified.signerFailure;
    return verified.signer;
}

TEST(DocumentSignature, TheSignerIsThePublisherOfTheProgramsItSigned)
{
    struct Case {
        const wchar_t* document;
        const wchar_t* program;  // signed by the same publisher
    };
    for (const Case& c : {Case{L"local.publisher.xml", L"plain.publisher.exe"}, Case{L"local.other.xml", L"plain.other.exe"},
                          // Issued by an authority: a renewed certificate is the same publisher.
                          Case{L"newer.issued2.xml", L"plain.issued1.exe"}}) {
        const std::vector<char> document = File(c.document);
        const osh::DetachedVerification verified =
            osh::VerifyDetachedSignature(document, File(std::wstring(c.document) + L".p7s"));
        ASSERT_TRUE(verified.valid) << testenv::Narrow(c.document) << ": " << verified.failure;
        ASSERT_TRUE(verified.signerKnown) << verified.signerFailure;
        EXPECT_TRUE(ziz::IsSamePublisher(ProgramSigner(c.program), verified.signer)) << testenv::Narrow(c.document);
    }
    EXPECT_FALSE(ziz::IsSamePublisher(ProgramSigner(L"plain.publisher.exe"),
                                      osh::VerifyDetachedSignature(File(L"local.other.xml"), File(L"local.other.xml.p7s")).signer));
}

TEST(DocumentSignature, ChangedBytesOrAnotherDocumentsSignatureDoNotVerify)
{
    std::vector<char> document = File(L"local.publisher.xml");
    const std::vector<char> signature = File(L"local.publisher.xml.p7s");
    ASSERT_TRUE(osh::VerifyDetachedSignature(document, signature).valid);
    struct Case {
        const char* name;
        std::vector<char> document;
        std::vector<char> signature;
    };
    std::vector<char> changed = document;
    changed[changed.size() / 2] ^= 0x01;
    std::vector<char> longer = document;
    longer.push_back(' ');
    std::vector<char> damaged = signature;
    damaged[damaged.size() - 10] ^= 0x01;
    for (const Case& c : {Case{"one bit changed", changed, signature}, Case{"one byte more", longer, signature},
                          Case{"another document's signature", document, File(L"older.publisher.xml.p7s")},
                          Case{"damaged signature", document, damaged}, Case{"no signature", document, {}},
                          Case{"not a signature", document, document}}) {
        const osh::DetachedVerification verified = osh::VerifyDetachedSignature(c.document, c.signature);
        EXPECT_FALSE(verified.valid) << c.name;
        EXPECT_FALSE(verified.signerKnown) << c.name;
        EXPECT_FALSE(verified.failure.empty()) << c.name;
    }
}

TEST(DocumentSignature, TheAnnouncementNamesTheNextSigner)
{
    ziz::DocumentClaims claims;
    std::string problem;
    ASSERT_TRUE(ziz::ReadDocumentClaims(File(L"announce.publisher.xml"), claims, problem)) << problem;
    ASSERT_TRUE(claims.announcesNext);
    const osh::DetachedVerification handover =
        osh::VerifyDetachedSignature(File(L"handover.other.xml"), File(L"handover.other.xml.p7s"));
    ASSERT_TRUE(handover.signerKnown);
    EXPECT_TRUE(ziz::IsAnnounced(handover.signer, {claims.next}));
    EXPECT_TRUE(ziz::IsAnnounced(ProgramSigner(L"plain.other.exe"), {claims.next}));
    EXPECT_FALSE(ziz::IsAnnounced(ProgramSigner(L"plain.publisher.exe"), {claims.next}));
}

}  // namespace
