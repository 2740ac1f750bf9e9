#pragma once
// The eight responses of the client protocol. Every response begins with hRequest (the number of the
// request it answers) and error (a failure of the request as such); JSON names are the field names.
#include "protocol/ProtoTypes.h"

namespace user_proto {

template <ReqType type>
struct Response;

template <>
struct Response<kHandshake> {
    uint32_t hRequest = 0;
    ErrorInfo error;
    uint32_t protocolVersion = 0;

    template <class Archive>
    void serialize(Archive& ar) {
        ar(CEREAL_NVP(hRequest), CEREAL_NVP(error), CEREAL_NVP(protocolVersion));
    }
    auto tie() const { return std::tie(hRequest, error, protocolVersion); }
};

template <>
struct Response<kLogin> {
    uint32_t hRequest = 0;
    ErrorInfo error;

    template <class Archive>
    void serialize(Archive& ar) {
        ar(CEREAL_NVP(hRequest), CEREAL_NVP(error));
    }
    auto tie() const { return std::tie(hRequest, error); }
};

template <>
struct Response<kGetUploadUrl> {
    uint32_t hRequest = 0;
    ErrorInfo error;
    bool skipUpload = false;  // the service already has the file
    std::string url;          // where to PUT it otherwise

    template <class Archive>
    void serialize(Archive& ar) {
        ar(CEREAL_NVP(hRequest), CEREAL_NVP(error), CEREAL_NVP(skipUpload), CEREAL_NVP(url));
    }
    auto tie() const { return std::tie(hRequest, error, skipUpload, url); }
};

template <>
struct Response<kGetSfmResults> {
    // One result file of an SfM task; the client names the downloaded file by hModel.
    struct Item {
        uint32_t hModel = 0;
        FileType type = FileType::kJpg;
        FileKey key;
        uint64_t size = 0;
        std::string url;  // where to GET it

        template <class Archive>
        void serialize(Archive& ar) {
            ar(CEREAL_NVP(hModel), KX_WIRE_NVP(int32_t, type), CEREAL_NVP(key), CEREAL_NVP(size),
               CEREAL_NVP(url));
        }
        auto tie() const { return std::tie(hModel, type, key, size, url); }
    };

    uint32_t hRequest = 0;
    ErrorInfo error;
    TaskError sfmError;
    std::vector<Item> items;

    template <class Archive>
    void serialize(Archive& ar) {
        ar(CEREAL_NVP(hRequest), CEREAL_NVP(error), CEREAL_NVP(sfmError), CEREAL_NVP(items));
    }
    auto tie() const { return std::tie(hRequest, error, sfmError, items); }
};

template <>
struct Response<kLaunchSfmTask> {
    uint32_t hRequest = 0;
    ErrorInfo error;
    TaskError sfmErr;
    TaskHandle hTask = 0;

    template <class Archive>
    void serialize(Archive& ar) {
        ar(CEREAL_NVP(hRequest), CEREAL_NVP(error), CEREAL_NVP(sfmErr), CEREAL_NVP(hTask));
    }
    auto tie() const { return std::tie(hRequest, error, sfmErr, hTask); }
};

template <>
struct Response<kQueryProgress> {
    uint32_t hRequest = 0;
    ErrorInfo error;
    TaskStage status = TaskStage::kPending;
    float ratio = 0;  // progress of the stage, 0 to 1

    template <class Archive>
    void serialize(Archive& ar) {
        ar(CEREAL_NVP(hRequest), CEREAL_NVP(error), KX_WIRE_NVP(uint32_t, status), CEREAL_NVP(ratio));
    }
    auto tie() const { return std::tie(hRequest, error, status, ratio); }
};

template <>
struct Response<kGetMvsResults> {
    // One result file of an MVS task.
    struct Item {
        FileType type = FileType::kJpg;
        FileKey key;
        uint64_t size = 0;
        std::string url;  // where to GET it

        template <class Archive>
        void serialize(Archive& ar) {
            ar(KX_WIRE_NVP(int32_t, type), CEREAL_NVP(key), CEREAL_NVP(size), CEREAL_NVP(url));
        }
        auto tie() const { return std::tie(type, key, size, url); }
    };

    uint32_t hRequest = 0;
    ErrorInfo error;
    TaskError mvsErr;
    std::vector<Item> items;

    template <class Archive>
    void serialize(Archive& ar) {
        ar(CEREAL_NVP(hRequest), CEREAL_NVP(error), CEREAL_NVP(mvsErr), CEREAL_NVP(items));
    }
    auto tie() const { return std::tie(hRequest, error, mvsErr, items); }
};

template <>
struct Response<kLaunchMvsTask> {
    uint32_t hRequest = 0;
    ErrorInfo error;
    TaskError mvsErr;
    TaskHandle hTask = 0;

    template <class Archive>
    void serialize(Archive& ar) {
        ar(CEREAL_NVP(hRequest), CEREAL_NVP(error), CEREAL_NVP(mvsErr), CEREAL_NVP(hTask));
    }
    auto tie() const { return std::tie(hRequest, error, mvsErr, hTask); }
};

}  // namespace user_proto
