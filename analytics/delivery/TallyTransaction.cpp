#include "analytics/delivery/TallyTransaction.h"

#include <cctype>

void TallyTransaction::registerArchiveClass() {
    platform::KeyedArchive::registerClass(kClassName, [](platform::ArchiveDecoder const& d) -> std::shared_ptr<platform::Archivable> {
        return initWithCoder(d);
    });
}

std::array<char const*, 5> const& TallyTransaction::transactionResultArrayInstance() {
    static std::array<char const*, 5> const names = {"Purchasing", "Success", "Failure", "Restored", "Deferred"};
    return names;
}

std::string TallyTransaction::transactionEventEnumToString(int64_t state) {
    auto const& names = transactionResultArrayInstance();
    return state >= 0 && state < int64_t(names.size()) ? names[size_t(state)] : "Unknown";
}

std::optional<std::string> TallyTransaction::formatPrice(std::string const& decimal) {
    size_t p = 0;
    bool negative = false;
    if (p < decimal.size() && (decimal[p] == '-' || decimal[p] == '+')) negative = decimal[p++] == '-';
    std::string whole, fraction;
    while (p < decimal.size() && std::isdigit(static_cast<unsigned char>(decimal[p]))) whole += decimal[p++];
    if (p < decimal.size() && decimal[p] == '.') {
        ++p;
        while (p < decimal.size() && std::isdigit(static_cast<unsigned char>(decimal[p]))) fraction += decimal[p++];
    }
    if (p != decimal.size() || (whole.empty() && fraction.empty())) return std::nullopt;
    if (whole.empty()) whole = "0";
    // Round to three fraction digits, half to even.
    if (fraction.size() > 3) {
        std::string const rest = fraction.substr(3);
        fraction.resize(3);
        bool const above = rest[0] > '5' || (rest[0] == '5' && rest.find_first_not_of('0', 1) != std::string::npos);
        bool const half = rest[0] == '5' && !above;
        bool const odd = (fraction.back() - '0') % 2 == 1;
        if (above || (half && odd)) {
            std::string digits = whole + fraction;
            int i = int(digits.size()) - 1;
            while (i >= 0 && digits[size_t(i)] == '9') digits[size_t(i--)] = '0';
            if (i < 0) digits.insert(digits.begin(), '1');
            else ++digits[size_t(i)];
            whole = digits.substr(0, digits.size() - 3);
            fraction = digits.substr(digits.size() - 3);
        }
    }
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    size_t const lead = whole.find_first_not_of('0');
    whole = lead == std::string::npos ? "0" : whole.substr(lead);
    std::string grouped;
    for (size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0) grouped += ',';
        grouped += whole[i];
    }
    bool const zero = grouped == "0" && fraction.empty();
    return (negative && !zero ? "-" : "") + grouped + (fraction.empty() ? "" : "." + fraction);
}

std::shared_ptr<TallyTransaction> TallyTransaction::initWithCoder(platform::ArchiveDecoder const& d) {
    using K = platform::Value::Kind;
    for (char const* key : {"transactionId", "productId", "price", "currency", "productName"})
        if (d.contains(key) && !d.value(key, K::String)) return nullptr;
    for (char const* key : {"quanity", "transactionState"})
        if (d.contains(key) && !d.decodeInt(key)) return nullptr;
    if (d.contains("receiptData") && !d.decodeData("receiptData")) return nullptr;
    auto t = std::make_shared<TallyTransaction>();
    t->transactionId = d.decodeString("transactionId").value_or("");
    t->productId = d.decodeString("productId").value_or("");
    t->quanity = d.decodeInt("quanity").value_or(0);
    t->price = d.decodeString("price").value_or("");
    t->currency = d.decodeString("currency").value_or("");
    t->productName = d.decodeString("productName").value_or("");
    t->receiptData = d.decodeData("receiptData").value_or(platform::Data{});
    t->transactionState = d.decodeInt("transactionState").value_or(0);
    return t;
}

void TallyTransaction::encodeWith(platform::ArchiveEncoder& e) const {
    e.encode("transactionId", transactionId);
    e.encode("productId", productId);
    e.encode("quanity", quanity);
    e.encode("price", price);
    e.encode("currency", currency);
    e.encode("productName", productName);
    e.encode("receiptData", receiptData);
    e.encode("transactionState", transactionState);
}

std::string TallyTransaction::description() const {
    return "{ fl.Price = " + price + " , fl.Quantity = " + std::to_string(quanity) + ", fl.ProductID = " + productId +
           " , fl.Currency = " + currency + " , fl.ProductName = " + productName + " ,fl.TransactionIdentifier = " +
           transactionId + " , fl.Result = " + transactionEventEnumToString(transactionState) + " }";
}
