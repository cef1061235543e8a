#include "shared/pdf/PdfFile.h"

#include <qpdf/Pl_Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFCryptoProvider.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cmath>
#include <memory>
#include <stdexcept>

#include "shared/platform/WholeFile.h"

namespace kvo::pdf {

namespace {

void Open(QPDF& pdf, const std::string& path) {
    pdf.setSuppressWarnings(true);
    pdf.processFile(path.c_str());
}

bool HoldsMoreThanWhiteSpace(QPDFPageObjectHelper& page) {
    Pl_Buffer buffer("page content");
    page.pipeContents(&buffer);
    std::unique_ptr<Buffer> content(buffer.getBuffer());
    const unsigned char* bytes = content->getBuffer();
    for (size_t i = 0; i < content->getSize(); ++i)
        if (bytes[i] != ' ' && bytes[i] != '\n' && bytes[i] != '\r' && bytes[i] != '\t' && bytes[i] != '\f' && bytes[i] != 0)
            return true;
    return false;
}

// A poster page may be given in a large unit (/UserUnit, in 1/72 inch) rather than in points.
void SetSizeInInches(QPDFPageObjectHelper& page, PageFacts& facts) {
    QPDFObjectHandle media = page.getMediaBox();
    if (!media.isRectangle()) return;
    const QPDFObjectHandle::Rectangle box = media.getArrayAsRectangle();
    QPDFObjectHandle unit = page.getObjectHandle().getKey("/UserUnit");
    const double inchesPerUnit = (unit.isNumber() && unit.getNumericValue() > 0 ? unit.getNumericValue() : 1.0) / 72.0;
    facts.widthInches = std::fabs(box.urx - box.llx) * inchesPerUnit;
    facts.heightInches = std::fabs(box.ury - box.lly) * inchesPerUnit;
}

QPDFObjectHandle InfoDictionary(QPDF& pdf) {
    QPDFObjectHandle trailer = pdf.getTrailer();
    QPDFObjectHandle info = trailer.getKey("/Info");
    if (!info.isDictionary()) {
        info = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
        trailer.replaceKey("/Info", info);
    }
    return info;
}

}  // namespace

std::optional<PdfFacts> InspectPdf(const std::string& path, std::string* error) {
    try {
        QPDF pdf;
        Open(pdf, path);
        PdfFacts facts;
        for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
            PageFacts pageFacts;
            page.forEachImage(true, [&](QPDFObjectHandle&, QPDFObjectHandle&, const std::string&) { ++pageFacts.images; });
            pageFacts.drawsSomething = HoldsMoreThanWhiteSpace(page);
            SetSizeInInches(page, pageFacts);
            facts.pages.push_back(pageFacts);
        }
        facts.pageCount = static_cast<int>(facts.pages.size());
        QPDFObjectHandle info = pdf.getTrailer().getKey("/Info");
        if (info.isDictionary())
            for (const std::string& key : info.getKeys())
                if (QPDFObjectHandle value = info.getKey(key); value.isString())
                    facts.info[key.substr(1)] = value.getUTF8Value();
        return facts;
    } catch (const std::exception& failure) {
        if (error) *error = failure.what();
        return std::nullopt;
    }
}

std::string AttachmentDigest(const std::string& attachmentPath) {
    std::shared_ptr<QPDFCryptoImpl> crypto = QPDFCryptoProvider::getImpl();
    crypto->SHA2_init(256);
    crypto->SHA2_update(reinterpret_cast<const unsigned char*>(attachmentPath.data()), attachmentPath.size());
    crypto->SHA2_finalize();
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : crypto->SHA2_digest()) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 15];
    }
    return hex;
}

void MarkAsResultFor(const std::string& pdfPath, const std::string& attachmentPath) {
    try {
        QPDF pdf;
        Open(pdf, pdfPath);
        QPDFObjectHandle info = InfoDictionary(pdf);
        info.replaceKey("/Producer", QPDFObjectHandle::newUnicodeString(kProducer));
        info.replaceKey(std::string("/") + kAttachmentKey, QPDFObjectHandle::newUnicodeString(AttachmentDigest(attachmentPath)));
        WholeFileWriter marked(pdfPath);
        QPDFWriter writer(pdf, marked.temporaryPath().c_str());
        writer.write();
        marked.commit();
    } catch (const QPDFExc& failure) {
        throw std::runtime_error("cannot mark " + pdfPath + ": " + failure.what());
    }
}

bool IsMadeByThisSystem(const PdfFacts& facts) {
    const auto producer = facts.info.find("Producer");
    return producer != facts.info.end() && producer->second == kProducer;
}

bool IsResultFor(const PdfFacts& facts, const std::string& attachmentPath) {
    const auto attachment = facts.info.find(kAttachmentKey);
    return IsMadeByThisSystem(facts) && attachment != facts.info.end() &&
           attachment->second == AttachmentDigest(attachmentPath);
}

}  // namespace kvo::pdf
