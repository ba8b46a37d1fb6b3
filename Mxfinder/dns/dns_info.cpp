// The readable names of record types, classes, response codes and opcodes.
#include <array>

#include "dns/dns_message.h"

namespace mxfinder {

namespace {

struct InfoRow {
  long value;
  const char* mnemonic;
  const char* description;
};

constexpr std::array kTypes{
    InfoRow{1, "A", "Host address"},
    InfoRow{2, "NS", "Authoritative name server"},
    InfoRow{3, "MD", "Mail destination (Obsolete - use MX)"},
    InfoRow{4, "MF", "Mail forwarder (Obsolete - use MX)"},
    InfoRow{5, "CNAME", "The canonical name for an alias"},
    InfoRow{6, "SOA", "Marks the start of a zone of authority"},
    InfoRow{7, "MB", "Mailbox domain name (EXPERIMENTAL)"},
    InfoRow{8, "MG", "Mail group member (EXPERIMENTAL)"},
    InfoRow{9, "MR", "mail rename domain name (EXPERIMENTAL)"},
    InfoRow{10, "NULL", "Null RR (EXPERIMENTAL)"},
    InfoRow{11, "WKS", "Well known service description"},
    InfoRow{12, "PTR", "Domain name pointer"},
    InfoRow{13, "HINFO", "Host information"},
    InfoRow{14, "MINFO", "Mailbox or mail list information"},
    InfoRow{15, "MX", "Mail exchange"},
    InfoRow{16, "TXT", "Text strings"},
    InfoRow{252, "AXFR", "Request for a transfer of an entire zone"},
    InfoRow{253, "MAILB", "Request for mailbox-related records (MB, MG or MR)"},
    InfoRow{254, "MAILA", "Request for mail agent RRs (Obsolete - see MX)"},
    InfoRow{255, "*", "Request for all records"},
};

constexpr std::array kClasses{
    InfoRow{1, "IN", "The Internet"},
    InfoRow{2, "CS", "the CSNET class (Obsolete - used only for examples in some obsolete RFCs)"},
    InfoRow{3, "CH", "the CHAOS class"},
    InfoRow{4, "HS", "Hesiod [Varen 87]"},
};

constexpr std::array kOpCodes{
    InfoRow{0, "QUERY", "Standard query"},
    InfoRow{1, "IQUERY", "Inverse query"},
    InfoRow{2, "STATUS", "Server status request"},
};

constexpr std::array kResponseCodes{
    "No error condition", "Format error", "Server failure", "Name Error", "Not Implemented", "Refused",
};

// Sets both outputs from the row of `value`; false when there is none.
template <std::size_t N>
bool Lookup(const std::array<InfoRow, N>& table, long value, std::string& mnemonic, std::string& description) {
  for (const InfoRow& row : table) {
    if (row.value != value) continue;
    mnemonic = row.mnemonic;
    description = row.description;
    return true;
  }
  return false;
}

}  // namespace

void CDNSMessage::GetTypeInfo(long type_value, std::string& mnemonic, std::string& description) {
  if (Lookup(kTypes, type_value, mnemonic, description)) return;
  mnemonic = "UNKNOWN";
  description = "UNKNOWN";
}

void CDNSMessage::GetClassInfo(long class_value, std::string& mnemonic, std::string& description) {
  Lookup(kClasses, class_value, mnemonic, description);
}

std::string CDNSMessage::GetResponseCodeInfo(long response_code) {
  if (response_code < 0 || response_code >= static_cast<long>(kResponseCodes.size())) return "Unknown response";
  return kResponseCodes[static_cast<std::size_t>(response_code)];
}

void CDNSMessage::GetOPCodeInfo(long code, std::string& mnemonic, std::string& description) {
  if (Lookup(kOpCodes, code, mnemonic, description)) return;
  mnemonic = "Unknown";
  description = "Unknown";
}

}  // namespace mxfinder
