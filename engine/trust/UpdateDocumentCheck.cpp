#include "engine/trust/UpdateDocumentCheck.h"

#include "engine/PublisherTrust.h"
#include "engine/RunReport.h"
#include "engine/trust/AcceptedDocuments.h"
#include "engine/trust/AnnouncedPublishers.h"
#include "engine/trust/UpdateDocumentTrust.h"
#include "osh/DetachedSignature.h"
#include "osh/Download.h"
#include "osh/Log.h"
#include "osh/PersistentStore.h"
#include "osh/Text.h"

#include "BuildConfig.h"

#include <windows.h>

namespace ziz {

namespace {

long long SecondsSince1970()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<long long>(ticks / 10000000ULL) - 11644473600LL;
}

// The signature beside the document; a fetch that fails leaves it absent.
DocumentEvidence Examine(const std::wstring& url, const std::wstring& file, const Blob& document)
{
    DocumentEvidence evidence;
    const std::wstring signatureFile = file + L".p7s";
    DeleteFileW(signatureFile.c_str());
    std::string transferFailure;
    Blob signature;
    if (!osh::DownloadToFile(signatureFile, url + L".p7s", transferFailure)) {
        osh::LogWarning("No signature beside the update document: " + transferFailure);
        return evidence;
    }
    if (!ReadFileBlob(signatureFile, signature)) return evidence;
    evidence.signaturePresent = true;
    const osh::DetachedVerification verified = osh::VerifyDetachedSignature(document, signature);
    evidence.signatureValid = verified.valid;
    if (!verified.valid) osh::LogWarning("Update document signature: " + verified.failure);
    evidence.signerKnown = verified.signerKnown;
    if (verified.valid && !verified.signerKnown) osh::LogWarning("Update document signer: " + verified.signerFailure);
    evidence.signer = verified.signer;
    evidence.claimsRead = ReadDocumentClaims(document, evidence.claims, evidence.claimsProblem);
    return evidence;
}

DocumentExpectations Expect(const AcceptedRecord& record)
{
    DocumentExpectations expectations;
    expectations.own = PublisherTrust::OfRunningProgram().Own();
    expectations.unsignedAccepted = NORLO_TEST_BUILD != 0;
    expectations.announced = AnnouncedPublishers();
    std::wstring product;
    if (osh::GetWellKnownValue(L"product", product)) expectations.product = osh::Narrow(product);
    expectations.now = SecondsSince1970();
    expectations.seenBefore = record.seenBefore;
    expectations.highestSerial = record.highestSerial;
    return expectations;
}

}  // namespace

bool CheckUpdateDocument(const std::wstring& url, const std::wstring& file, const Blob& document, RunReport& report,
                         std::string& failure)
{
    const AcceptedRecord record = ReadAcceptedRecord();
    const DocumentExpectations expectations = Expect(record);
    // An unsigned test build fetches no signature: it has nobody to compare a signer with.
    DocumentEvidence evidence;
    if (!(expectations.own.signature == osh::SignatureState::Absent && expectations.unsignedAccepted))
        evidence = Examine(url, file, document);
    const DocumentDecision decision = JudgeDocument(evidence, expectations);
    if (decision.verdict == DocumentVerdict::Unchecked) {
        osh::LogWarning(decision.line);
        return true;
    }
    report.SetUpdateDocument(decision.line);
    if (!IsAccepted(decision.verdict)) {
        // Survivable: the run goes on without it; a check run fails with it as its reason.
        osh::LogWarning(decision.line);
        failure = decision.line;
        // Nothing later may pick up what was refused.
        DeleteFileW(file.c_str());
        DeleteFileW((file + L".p7s").c_str());
        return false;
    }
    osh::LogInformation(decision.line);
    if (evidence.claims.announcesNext) AddAnnouncedPublisher(evidence.claims.next);
    RecordAcceptedDocument(evidence.claims, record);
    return true;
}

}  // namespace ziz
