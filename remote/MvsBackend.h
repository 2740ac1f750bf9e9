#pragma once
// The remote multi-view stereo task: uploads a sparse model and the images of its captures, launches
// the task and downloads the dense cloud into the project directory under the task's name.
#include <filesystem>
#include <string>
#include <vector>

#include "remote/Backend.h"
#include "remote/TaskInputs.h"

class MvsBackend : public Backend {
    Q_OBJECT

public:
    explicit MvsBackend(QObject* parent = nullptr);
    ~MvsBackend() override;

    // Ends the running task of this instance and densifies `sparseModel`; the results are stored in
    // `outputDir` as `name` followed by their extension. A model that does not read, a capture that is
    // not a local image, or a name that is not a plain file name is refused with an "Error" box and a log
    // line, nothing is sent and false is returned. A capture the service asks for whose content no longer
    // has the model's digest fails the task later, with the same "Error" box, and is not sent.
    bool launchMvsTask(const std::filesystem::path& sparseModel, const std::string& name,
                       const std::filesystem::path& outputDir);

protected slots:
    void downloadMvsResults(const user_proto::MvsResultItems& items) override;
    void uploadInputFiles() override;
    void launchTask() override;
    void getResultUrls() override;

private:
    std::filesystem::path mSparseModel;
    std::string mName;
    FileKey mSparseKey;
    std::vector<FileKey> mImageKeys;
    std::vector<remote::UploadInput> mCaptures;  // checked at launch, in model order
};
