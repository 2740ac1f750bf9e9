#pragma once
// The eight requests of the client protocol. Every request begins with hRequest, the number the session
// gave it; JSON names are the field names.
#include "protocol/ProtoTypes.h"

namespace user_proto {

// The requests that name only a task (kGetSfmResults, kQueryProgress, kGetMvsResults); the other
// types specialise it.
template <ReqType type>
struct Request {
    uint32_t hRequest = 0;
    TaskHandle hTask = 0;

    template <class Archive>
    void serialize(Archive& ar) {
        ar(CEREAL_NVP(hRequest), CEREAL_NVP(hTask));
    }
    auto tie() const { return std::tie(hRequest, hTask); }
};

template <>
struct Request<kHandshake> {
    uint32_t hRequest = 0;
    uint8_t protocolType = 0;

    template <class Archive>
    void serialize(Archive& ar) {
        ar(CEREAL_NVP(hRequest), KX_WIRE_NVP(uint32_t, protocolType));
    }
    auto tie() const { return std::tie(hRequest, protocolType); }
};

template <>
struct Request<kLogin> {
    uint32_t hRequest = 0;
    std::string username;
    std::string secret;

    template <class Archive>
    void serialize(Archive& ar) {
        ar(CEREAL_NVP(hRequest), CEREAL_NVP(username), CEREAL_NVP(secret));
    }
    auto tie() const { return std::tie(hRequest, username, secret); }
};

template <>
struct Request<kGetUploadUrl> {
    uint32_t hRequest = 0;
    FileKey key;
    uint64_t size = 0;  // bytes
    FileType type = FileType::kJpg;

    template <class Archive>
    void serialize(Archive& ar) {
        ar(CEREAL_NVP(hRequest), CEREAL_NVP(key), CEREAL_NVP(size), KX_WIRE_NVP(int32_t, type));
    }
    auto tie() const { return std::tie(hRequest, key, size, type); }
};

template <>
struct Request<kLaunchSfmTask> {
    uint32_t hRequest = 0;
    FileKey config;  // the uploaded configuration file
    uint16_t hProfile = 0;

    template <class Archive>
    void serialize(Archive& ar) {
        ar(CEREAL_NVP(hRequest), CEREAL_NVP(config), KX_WIRE_NVP(uint32_t, hProfile));
    }
    auto tie() const { return std::tie(hRequest, config, hProfile); }
};

template <>
struct Request<kLaunchMvsTask> {
    uint32_t hRequest = 0;
    FileKey ksmFile;  // the uploaded sparse model
    std::vector<FileKey> images;

    template <class Archive>
    void serialize(Archive& ar) {
        ar(CEREAL_NVP(hRequest), CEREAL_NVP(ksmFile), CEREAL_NVP(images));
    }
    auto tie() const { return std::tie(hRequest, ksmFile, images); }
};

}  // namespace user_proto
