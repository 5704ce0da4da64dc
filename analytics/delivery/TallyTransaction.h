#pragma once
// A store purchase as it is logged with the purchase event: the product, its price and
// currency, the quantity, the receipt and how the transaction ended.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/base/KeyedArchive.h"

class TallyTransaction : public platform::Archivable {
public:
    static constexpr char const* kClassName = "TallyTransaction";
    static void registerArchiveClass();
    static std::array<char const*, 5> const& transactionResultArrayInstance();
    // "Purchasing", "Success", "Failure", "Restored", "Deferred"; "Unknown" outside them.
    static std::string transactionEventEnumToString(int64_t state);
    // The price in the en_US decimal style: "," grouping, "." decimals, at most three fraction
    // digits rounded half to even. Nothing for text that is not a decimal number.
    static std::optional<std::string> formatPrice(std::string const& decimal);

    static std::shared_ptr<TallyTransaction> initWithCoder(platform::ArchiveDecoder const& decoder);
    std::string className() const override { return kClassName; }
    void encodeWith(platform::ArchiveEncoder& encoder) const override;
    std::string description() const;

    std::string transactionId;
    std::string productId;
    int64_t quanity = 0;
    std::string price;
    std::string currency;
    std::string productName;
    platform::Data receiptData;
    int64_t transactionState = 0;
};
