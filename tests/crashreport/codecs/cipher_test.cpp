// The stored-data cipher: encrypt/decrypt identity over many lengths, and
// both directions pinned against an independent Python model.
#include <gtest/gtest.h>

#include <cstring>

#include "crashreport/codecs/stored_data_cipher.h"
#include "test_support.h"

using namespace crashreport::codecs;
using namespace codecs_test;

namespace {

const std::string kReference = std::string(VEK_SOURCE_DIR) + "/tests/crashreport/codecs/stored_cipher_reference.py";

std::vector<uint8_t> FromHex(const std::string& hex)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

} // namespace

TEST(StoredDataCipher, EncryptThenDecryptIsIdentity)
{
    TStoredDataCipher cipher;
    cipher.SetKey("pass phrase");
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 40; ++n) lengths.push_back(n);
    for (size_t n : {1000u, 4095u, 65536u, 1000003u}) lengths.push_back(n);
    for (size_t n : lengths) {
        std::vector<uint8_t> plain = RandomBytes(n, uint32_t(n) + 3);
        std::vector<uint8_t> buffer = plain;
        cipher.Encrypt(buffer.data(), buffer.size());
        if (n >= 4) {
            EXPECT_NE(buffer, plain) << n;
        }
        cipher.Decrypt(buffer.data(), buffer.size());
        EXPECT_EQ(buffer, plain) << n;
    }
}

TEST(StoredDataCipher, WrongKeyDoesNotDecrypt)
{
    TStoredDataCipher right, wrong;
    right.SetKey("secret");
    wrong.SetKey("Secret");
    std::vector<uint8_t> plain = RandomBytes(24, 5);
    std::vector<uint8_t> buffer = plain;
    right.Encrypt(buffer.data(), buffer.size());
    wrong.Decrypt(buffer.data(), buffer.size());
    EXPECT_NE(buffer, plain);
}

TEST(StoredDataCipher, BlockFunctionsAreInverse)
{
    TStoredDataCipher cipher;
    const uint32_t key[4] = {0x01234567, 0x89ABCDEF, 0xFEDCBA98, 0x76543210};
    cipher.SetKeyWords(key);
    uint8_t block[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    uint8_t original[8];
    std::memcpy(original, block, 8);
    cipher.EncryptBlock(block);
    EXPECT_NE(std::memcmp(block, original, 8), 0);
    cipher.DecryptBlock(block);
    EXPECT_EQ(std::memcmp(block, original, 8), 0);
}

// The Python model is written from the cipher's description alone (hashlib
// for the key digest), so it checks the key schedule, the added round terms,
// the big-endian words, the chaining and the tail.
TEST(StoredDataCipher, AgreesWithIndependentModel)
{
    for (size_t n : {0u, 5u, 8u, 13u, 16u, 29u, 64u, 71u}) {
        SCOPED_TRACE("length " + std::to_string(n));
        const std::string phrase = "TavrelLog key " + std::to_string(n);
        std::vector<uint8_t> data = RandomBytes(n, uint32_t(n) * 7 + 1);
        TCommandResult py = RunShell("python3 " + ShellQuote(kReference) + " " + ShellQuote(phrase) + " '" +
                                     Hex(data.data(), data.size()) + "'");
        ASSERT_EQ(py.ExitCode, 0) << py.Output;
        size_t newline = py.Output.find('\n');
        ASSERT_NE(newline, std::string::npos);
        std::vector<uint8_t> expectDecrypted = FromHex(py.Output.substr(0, newline));
        std::vector<uint8_t> expectEncrypted = FromHex(py.Output.substr(newline + 1));

        TStoredDataCipher cipher;
        cipher.SetKey(phrase);
        std::vector<uint8_t> decrypted = data;
        cipher.Decrypt(decrypted.data(), decrypted.size());
        EXPECT_EQ(decrypted, expectDecrypted);
        std::vector<uint8_t> encrypted = data;
        cipher.Encrypt(encrypted.data(), encrypted.size());
        EXPECT_EQ(encrypted, expectEncrypted);
    }
}
