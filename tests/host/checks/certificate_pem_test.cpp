// PEM decoding, and every certificate file of the configured directory against the size and digest
// that the program's tables pin.
#include "checks/certificate_pem.h"
#include "checks/certificate_table.h"
#include "checks/digest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace Velmora::Assistant {
namespace {

TEST(PemToDer, DecodesTheBodyAndDropsThePadding)
{
    struct Case {
        const char* what;
        std::string pem;
        std::string der;
    } cases[] = {
        {"no padding", "-----BEGIN CERTIFICATE-----\r\nYWJj\r\n-----END CERTIFICATE-----\r\n", "abc"},
        {"one '='", "-----BEGIN CERTIFICATE-----\r\nYWI=\r\n-----END CERTIFICATE-----\r\n", "ab"},
        {"two '='", "-----BEGIN CERTIFICATE-----\r\nYQ==\r\n-----END CERTIFICATE-----\r\n", "a"},
        {"lines joined",
         "-----BEGIN CERTIFICATE-----\r\nYWJjZGVm\r\nZ2hp\r\nag==\r\n-----END CERTIFICATE-----",
         "abcdefghij"},
        {"bytes, not text", "-----BEGIN CERTIFICATE-----\r\nAP8AAQ==\r\n-----END CERTIFICATE-----\r\n",
         std::string("\0\xff\0\x01", 4)},
        {"blank lines after the end",
         "-----BEGIN CERTIFICATE-----\r\nYQ==\r\n-----END CERTIFICATE-----\r\n\r\n \r\n", "a"},
        {"stray character", "-----BEGIN CERTIFICATE-----\r\nYW*j\r\n-----END CERTIFICATE-----\r\n", ""},
        {"length not a multiple of four",
         "-----BEGIN CERTIFICATE-----\r\nYWJjZ\r\n-----END CERTIFICATE-----\r\n", ""},
        {"armour only", "-----BEGIN CERTIFICATE-----\r\n-----END CERTIFICATE-----\r\n", ""},
        {"empty", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PemToDer(c.pem), c.der) << c.what;
}

// One carried certificate as the program's tables describe it.
struct Carried {
    std::string set;
    std::string name;
    std::string store;
    std::string resource; // "-" for the older set, which is not a resource
    std::string format;
    std::size_t derBytes;
    std::string sha1;
};

std::vector<Carried> AllCarried()
{
    std::vector<Carried> rows;
    for (const Sm2CertificateRow& row : Sm2Certificates())
        rows.push_back({"sm2", row.name, row.store, row.resource,
                        row.format == CertificateFormat::kPem ? "PEM" : "DER", row.derBytes, row.sha1});
    for (const LegacyCertificateRow& row : LegacyCertificates())
        rows.push_back({"legacy", row.name, row.store, "-", "DER", row.derBytes, row.sha1});
    return rows;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

// certs.tsv of the configured directory: the fields of each row by certificate name.
const std::map<std::string, std::vector<std::string>>& TsvRows()
{
    static const std::map<std::string, std::vector<std::string>> rows = [] {
        std::map<std::string, std::vector<std::string>> out;
        std::istringstream lines(ReadFile(VELMORA_CERT_DIR "/certs.tsv"));
        for (std::string line; std::getline(lines, line);) {
            std::vector<std::string> fields;
            std::istringstream cells(line);
            for (std::string cell; std::getline(cells, cell, '\t');)
                fields.push_back(cell);
            if (fields.size() == 10 && fields[0] != "set")
                out[fields[4]] = fields;
        }
        return out;
    }();
    return rows;
}

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

class CarriedCertificate : public testing::TestWithParam<Carried> {};

TEST_P(CarriedCertificate, FileDecodesToThePinnedDer)
{
    const Carried& row = GetParam();
    const auto found = TsvRows().find(row.name);
    ASSERT_NE(found, TsvRows().end()) << "certs.tsv lists \"" << row.name << "\"";
    const std::vector<std::string>& tsv = found->second;
    EXPECT_EQ(tsv[0], row.set);
    EXPECT_EQ(tsv[3], row.store);
    EXPECT_EQ(tsv[5], row.resource);
    EXPECT_EQ(tsv[6], row.format);
    EXPECT_EQ(tsv[7], std::to_string(row.derBytes));
    EXPECT_EQ(Upper(tsv[8]), row.sha1);
    if (tsv[9] == "-")
        GTEST_SKIP() << "the directory has no file for \"" << row.name << "\"";

    const std::string path = VELMORA_CERT_DIR "/" + tsv[9];
    const std::string bytes = ReadFile(path);
    ASSERT_FALSE(bytes.empty()) << path;
    const std::string der = row.format == "PEM" ? PemToDer(bytes) : bytes;
    EXPECT_EQ(der.size(), row.derBytes) << path;
    EXPECT_EQ(Upper(DigestHex(der, kDigestSha1)), row.sha1) << path;
    if (row.set == "legacy") {
        EXPECT_EQ(LegacyCertificateDer(row.name), der) << "the bytes built into the program";
    }
}

INSTANTIATE_TEST_SUITE_P(All, CarriedCertificate, testing::ValuesIn(AllCarried()),
                         [](const testing::TestParamInfo<Carried>& param) {
                             std::string name = param.param.name;
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name;
                         });

} // namespace
} // namespace Velmora::Assistant
