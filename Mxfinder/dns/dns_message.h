// CDNSMessage: one DNS message and its wire codec. It composes the one kind
// of query the resolver sends (a single question) and decodes responses.
// Messages travel as byte strings, one char per byte.
#pragma once

#include <string>

#include "dns/dns_records.h"

namespace mxfinder {

class CDNSMessage {
 public:
  CDnsHeader Header;
  CDnsQuestions Questions;
  CDNSResourceRecords Answers;
  CDNSResourceRecords Authorities;
  CDNSResourceRecords AdditionalInfos;

  // Writes the query for the first question of Questions into
  // `query_stream` (replacing its content) and returns true: the header
  // (MessageID, OPCode 1 or 2, RecursionDesired, QDCOUNT 1), the name, QTYPE
  // and QCLASS. One trailing "." of the name is ignored; the name "" is the
  // root. Throws ComponentError with the source "CDnsMessage.ComposeQuery":
  // 9 when Questions is empty; 6 when MessageID, the type or the class lies
  // outside 0..65535, a label is longer than 255 bytes, or the query would
  // reach 32763 bytes before its QTYPE. `query_stream` is untouched then.
  bool ComposeQuery(std::string& query_stream) const;

  // Decodes the datagram `stream_data` into this message, replacing the
  // header, the questions and the three record sections, and returns true.
  // Each record's RData is decoded by type (A, NS, CNAME, MB, MG, MR, PTR,
  // SOA, MX; others stay empty) and must lie inside its RDLENGTH bytes;
  // reading goes on after them. Throws ComponentError (9 for any read past
  // the data, a bad compression pointer or RDATA that overruns its length,
  // 6 for a position beyond 32767); what was decoded before the failure
  // stays in the message.
  bool Parse(const std::string& stream_data);

  // The mnemonic and description of a record type ("MX", "Mail exchange");
  // "UNKNOWN" and "UNKNOWN" for a type outside the table.
  static void GetTypeInfo(long type_value, std::string& mnemonic, std::string& description);
  // The mnemonic and description of a class ("IN", "The Internet"); an
  // unknown class leaves both unchanged.
  static void GetClassInfo(long class_value, std::string& mnemonic, std::string& description);
  // The description of a response code ("Name Error" for 3); "Unknown
  // response" outside 0..5.
  static std::string GetResponseCodeInfo(long response_code);
  // The mnemonic and description of an opcode ("QUERY", "Standard query");
  // "Unknown" and "Unknown" outside 0..2.
  static void GetOPCodeInfo(long code, std::string& mnemonic, std::string& description);
};

}  // namespace mxfinder
