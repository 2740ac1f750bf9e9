#pragma once
// The remote structure-from-motion task: uploads the images and the configuration, launches the task
// and downloads the sparse models into the project directory.
#include <filesystem>
#include <memory>
#include <vector>

#include "config/SfmCfg.h"
#include "remote/Backend.h"
#include "remote/TaskInputs.h"

class SfmBackend : public Backend {
    Q_OBJECT

public:
    explicit SfmBackend(QObject* parent = nullptr);
    ~SfmBackend() override;

    // Ends the running task of this instance and starts one on `cfg`, whose results go to `outputDir`. A
    // configuration whose images cannot be uploaded is refused with an "Error" box and a log line,
    // nothing is sent and false is returned.
    bool launchSfmTask(std::unique_ptr<SfmCfg> cfg, const std::filesystem::path& outputDir);

protected slots:
    void uploadInputFiles() override;
    void launchTask() override;
    void getResultUrls() override;

private:
    std::unique_ptr<SfmCfg> mCfg;
    std::filesystem::path mCfgFile;
    FileKey mCfgKey;
    std::vector<remote::UploadInput> mInputs;  // checked at launch, in configuration order
};
