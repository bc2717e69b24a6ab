#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

// Entry functions of the fuzz targets: each feeds one reader of text or files Telmora does
// not control and checks what must hold whatever the input. A broken rule aborts, which
// libFuzzer reports as a crash and the seed replay test as a failure. Each returns 0.
namespace telmora::fuzz {

int fuzzSearch(const uint8_t* data, size_t size);     // `ipatool search` JSON
int fuzzToolLines(const uint8_t* data, size_t size);  // purchases, version ids and metadata, auth info, dates
int fuzzProgress(const uint8_t* data, size_t size);   // download and installer output in arbitrary chunks
int fuzzMessages(const uint8_t* data, size_t size);   // error messages; secrets never shown
int fuzzLookup(const uint8_t* data, size_t size);     // the lookup service's answer
int fuzzFeed(const uint8_t* data, size_t size);       // raw update feed bytes
int fuzzSignedFeed(const uint8_t* data, size_t size); // a feed body signed with the test key
int fuzzPlist(const uint8_t* data, size_t size);      // property lists, XML and binary
int fuzzIPA(const uint8_t* data, size_t size);        // readIPAInfo on a package file
int fuzzUnpack(const uint8_t* data, size_t size);     // update unpacking into a fresh folder

struct Target {
    const char* name; // also the seed folder tests/fuzz/<name>
    int (*run)(const uint8_t*, size_t);
};

inline constexpr Target targets[] = {
    {"search", fuzzSearch},   {"toollines", fuzzToolLines}, {"progress", fuzzProgress},
    {"messages", fuzzMessages}, {"lookup", fuzzLookup},     {"feed", fuzzFeed},
    {"signedfeed", fuzzSignedFeed}, {"plist", fuzzPlist},   {"ipa", fuzzIPA},
    {"unpack", fuzzUnpack},
};

// Prints `rule` and aborts when `holds` is false.
void require(bool holds, const char* rule);

// The input as bytes, without a copy.
[[nodiscard]] inline QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

} // namespace telmora::fuzz
