#include "tests/support/sealing.hpp"

#include "platform/seal/code_signing.hpp"

namespace quillmark::testing {

const std::string& testSigningKey()
{
    static const std::string key = platform::generateSigningKey();
    return key;
}

void sealBundle(const platform::FileURL& bundle, std::string_view identifier)
{
    platform::signBundle(bundle, testSigningKey(), identifier);
}

} // namespace quillmark::testing
