// The plugin's channel to the control service: the shared messaging-center client, the job-list
// query, and the requests and success rule of "startOne" and "export". The pages build every
// request here, so the wire shape of each message lives in one place.
#pragma once

#include <memory>
#include <string>

#include "platform/ipc/messaging_center.h"
#include "platform/value/value.h"

// The process-wide client, created on first use; null when the platform gives none (the next
// call then tries again).
std::shared_ptr<orv::CPDistributedMessagingCenter> get_ipc();

// The "data" array of the "listAll" reply; null when there is no client, no reply, or the reply
// has no "data" array.
orv::Value getAllDaemons();

// The "startOne" request: "Label" (when the record's label is a string), "isStart" (boolean),
// "flag" (integer 0), and "Plist" only when the record holds a string there, in this order.
orv::Dictionary make_start_one_request(const orv::Value& record, bool is_start);
// The "export" request: exactly "path" and "data".
orv::Dictionary make_export_request(const std::string& path, const orv::Value& table);
// A reply came (a dictionary) and its "status", read as a signed 32-bit integer (missing reads
// 0), is 0 or more.
bool reply_succeeded(const orv::Value& reply);

// Send one request through the given client and apply the success rule.
bool send_start_one(orv::CPDistributedMessagingCenter& center, const orv::Value& record,
                    bool is_start);
bool send_export(orv::CPDistributedMessagingCenter& center, const std::string& path,
                 const orv::Value& table);
