#pragma once

#include "FakeHTTPTransport.h"
#include "InMemoryCredentialStore.h"
#include "TestSupport.h"
#include "UsageStore.h"
#include "VelmoJSON.h"

#include <memory>

namespace velmo::test {

// A usage store over in-memory parts and a fixed clock: no network is ever
// asked (these tests set the store's state directly).
struct StoreFixture {
    StoreFixture()
    {
        HTTPClient http(transport, 1, 0.0, 5.0);
        CLICredentialReader cli(scratch.filePath("home").toStdString());
        store = std::make_unique<UsageStore>(VelmoClient(QUrl("https://api.test"), http),
            CredentialResolver(sessions, cli), std::nullopt);
        store->setNow([this] { return clock; });
    }

    void signIn(std::string token = "vat_0123456789abcdef")
    {
        sessions->save(StoredTokens { .accessToken = std::move(token) });
        store->reloadCredential();
    }

    static Balance balance(std::int64_t accountMicros, std::int64_t availableMicros)
    {
        Balance b;
        b.accountBalance = MicrosUSD(accountMicros);
        b.availableBalance = MicrosUSD(availableMicros);
        return b;
    }

    ScratchDir scratch;
    std::shared_ptr<FakeHTTPTransport> transport = std::make_shared<FakeHTTPTransport>();
    std::shared_ptr<InMemoryCredentialStore> sessions = std::make_shared<InMemoryCredentialStore>();
    Timestamp clock = *VelmoJSON::parseDate("2025-06-01T12:00:00Z");
    std::unique_ptr<UsageStore> store;
};

} // namespace velmo::test
