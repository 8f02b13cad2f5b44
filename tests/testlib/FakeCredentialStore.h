#pragma once

#include "CredentialStoring.h"

#include <stdexcept>

namespace velmo::test {

// A store that counts its calls and can be told to fail.
class FakeCredentialStore final : public CredentialStoring {
public:
    std::optional<StoredTokens> tokens;
    bool failLoad = false, failSave = false;
    int loads = 0, saves = 0;

    std::optional<StoredTokens> load() override
    {
        ++loads;
        if (failLoad)
            throw std::runtime_error("The desktop keyring is locked");
        return tokens;
    }
    void save(const StoredTokens& next) override
    {
        ++saves;
        if (failSave)
            throw std::runtime_error("keyring write refused");
        tokens = next;
    }
    void remove() override { tokens.reset(); }
};

} // namespace velmo::test
