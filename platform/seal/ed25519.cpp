#include "platform/seal/ed25519.hpp"

#include "platform/seal/code_seal_error.hpp"

#include <memory>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace quillmark::platform::ed25519 {
namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Context = std::unique_ptr<EVP_MD_CTX, ContextFree>;
using Bio = std::unique_ptr<BIO, BioFree>;

Key readPrivateKey(std::string_view pem)
{
    Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    Key key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519)
        throw codeSealError(codeSealErrorCode::badKey, "The signing key is not an Ed25519 private key in PEM form.");
    return key;
}

} // namespace

std::string generatePrivateKeyPem()
{
    Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    Bio bio(BIO_new(BIO_s_mem()));
    if (!key || !bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        throw codeSealError(codeSealErrorCode::cryptography, "A new signing key could not be generated.");
    char* data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

PublicKey publicKeyOf(std::string_view privateKeyPem)
{
    auto key = readPrivateKey(privateKeyPem);
    PublicKey publicKey {};
    std::size_t length = publicKey.size();
    if (EVP_PKEY_get_raw_public_key(key.get(), publicKey.data(), &length) != 1 || length != publicKey.size())
        throw codeSealError(codeSealErrorCode::badKey, "The public half of the signing key could not be read.");
    return publicKey;
}

Signature sign(std::string_view privateKeyPem, std::string_view message)
{
    auto key = readPrivateKey(privateKeyPem);
    Context context(EVP_MD_CTX_new());
    Signature signature {};
    std::size_t length = signature.size();
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1
        || EVP_DigestSign(context.get(), signature.data(), &length,
               reinterpret_cast<const unsigned char*>(message.data()), message.size())
            != 1
        || length != signature.size())
        throw codeSealError(codeSealErrorCode::cryptography, "The code seal could not be signed.");
    return signature;
}

bool verify(const PublicKey& publicKey, std::string_view message, const Signature& signature)
{
    Key key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), publicKey.size()));
    Context context(EVP_MD_CTX_new());
    if (!key || !context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), signature.data(), signature.size(),
               reinterpret_cast<const unsigned char*>(message.data()), message.size())
        == 1;
}

} // namespace quillmark::platform::ed25519
