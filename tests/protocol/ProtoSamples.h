#pragma once
// Messages of each type with their JSON texts: requests with their golden texts, responses with texts
// written by hand in any member order.
#include <string>
#include <vector>

#include "protocol/UserProto.h"
#include "tests/config/CfgSamples.h"

namespace kxtest {

struct RequestText {
    user_proto::UserRequest req;
    const char* text;  // without blanks
};

inline std::vector<RequestText> requestTexts() {
    using namespace user_proto;
    const FileKey a = keyOf("900150983cd24fb0d6963f7d28e17f72");
    const FileKey b = keyOf("d41d8cd98f00b204e9800998ecf8427e");
    return {
        {Request<kHandshake>{0, 0}, R"({"index":0,"data":{"hRequest":0,"protocolType":0}})"},
        {Request<kLogin>{1, "guest", ""},
         R"({"index":1,"data":{"hRequest":1,"username":"guest","secret":""}})"},
        {Request<kGetUploadUrl>{2, a, 5000000000ull, FileType::kHeif},
         R"({"index":2,"data":{"hRequest":2,"key":"900150983cd24fb0d6963f7d28e17f72","size":5000000000,)"
         R"("type":2}})"},
        {Request<kGetSfmResults>{3, 18446744073709551615ull},
         R"({"index":3,"data":{"hRequest":3,"hTask":18446744073709551615}})"},
        {Request<kLaunchSfmTask>{4, b, 0},
         R"({"index":4,"data":{"hRequest":4,"config":"d41d8cd98f00b204e9800998ecf8427e","hProfile":0}})"},
        {Request<kQueryProgress>{7, 12}, R"({"index":5,"data":{"hRequest":7,"hTask":12}})"},
        {Request<kGetMvsResults>{4294967295u, 0}, R"({"index":6,"data":{"hRequest":4294967295,"hTask":0}})"},
        {Request<kLaunchMvsTask>{9, a, {b, a}},
         R"({"index":7,"data":{"hRequest":9,"ksmFile":"900150983cd24fb0d6963f7d28e17f72","images":[)"
         R"("d41d8cd98f00b204e9800998ecf8427e","900150983cd24fb0d6963f7d28e17f72"]}})"},
    };
}

inline const std::string kOk = R"("error": {"code": 0, "message": ""})";
inline const std::string kNoTaskError = R"({"code": 0, "message": "", "missingFiles": []})";

inline std::string envelope(int index, const std::string& data) {
    return "{\"index\": " + std::to_string(index) + ", \"data\": {" + data + "}}";
}

// A response of type index to request number index, without request error, then fields.
inline std::string ok(int index, const std::string& fields) {
    return envelope(index, "\"hRequest\": " + std::to_string(index) + ", " + kOk + ", " + fields);
}

struct ResponseText {
    std::string text;
    user_proto::UserResponse res;
};

inline std::vector<ResponseText> responseTexts() {
    using namespace user_proto;
    const FileKey a = keyOf("900150983cd24fb0d6963f7d28e17f72");
    const std::string keyA = R"("key": "900150983cd24fb0d6963f7d28e17f72")";
    return {
        {ok(0, R"("protocolVersion": 1)"), Response<kHandshake>{0, {}, 1}},
        {envelope(1, R"("hRequest": 1, "error": {"code": 4294967295, "message": "denied"})"),
         Response<kLogin>{1, {4294967295u, "denied"}}},
        {ok(2, R"("skipUpload": false, "url": "http://h/p")"),
         Response<kGetUploadUrl>{2, {}, false, "http://h/p"}},
        {ok(3, R"("sfmError": )" + kNoTaskError + R"(, "items": [{"hModel": 0, "type": 8, )" + keyA +
                   R"(, "size": 0, "url": "u0"}, {"hModel": 4294967295, "type": -1, "key": "abc",
                   "size": 18446744073709551615, "url": ""}])"),
         Response<kGetSfmResults>{
             3,
             {},
             {},
             {{0, FileType::kKsm, a, 0, "u0"},
              {4294967295u, static_cast<FileType>(-1), keyOf("abc"), 18446744073709551615ull, ""}}}},
        {ok(4, R"("sfmErr": )" + kNoTaskError + R"(, "hTask": 18446744073709551615)"),
         Response<kLaunchSfmTask>{4, {}, {}, 18446744073709551615ull}},
        {ok(5, R"("status": 2, "ratio": 1)"), Response<kQueryProgress>{5, {}, TaskStage::kRunning, 1.0f}},
        {ok(6, R"("mvsErr": )" + kNoTaskError + R"(, "items": [{"type": 6, )" + keyA +
                   R"(, "size": 7, "url": "d"}])"),
         Response<kGetMvsResults>{6, {}, {}, {{FileType::kPly, a, 7, "d"}}}},
        {ok(7, R"("mvsErr": {"code": 2, "message": "", "missingFiles": []}, "hTask": 0)"),
         Response<kLaunchMvsTask>{7, {}, {2, "", {}}, 0}},
        // Members in any order, "data" before "index", unknown members ignored.
        {R"({"data": {"ratio": 0.5, "status": 1, "extra": [1], "error": {"message": "x", "code": 3},
              "hRequest": 9}, "index": 5})",
         Response<kQueryProgress>{9, {3, "x"}, TaskStage::kFetchingFiles, 0.5f}},
    };
}

}  // namespace kxtest
