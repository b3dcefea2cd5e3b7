#include "configdeviceaction.h"

#include "configdevicetask.h"

ConfigDeviceAction::ConfigDeviceAction(ConfigDeviceTask *task, QObject *parent)
    : ConfigDeviceBase(parent)
    , task_(task)
{
    if (!task_)
        throw std::system_error(
            std::make_error_code(std::errc::invalid_argument), "`task` argument can't be nullptr");
    attach();
}

ConfigDeviceAction::ConfigDeviceAction(ConfigDeviceTask *task, std::error_code &ec, QObject *parent)
    : ConfigDeviceBase(parent)
    , task_(task)
{
    if (!task_) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return;
    }
    ec.clear();
    attach();
}

void ConfigDeviceAction::attach()
{
    connect(this, &ConfigDeviceBase::getConfigDeviceData, task_,
        &ConfigDeviceBase::getConfigDeviceData);
    connect(this, &ConfigDeviceBase::setConfigDeviceData, task_,
        &ConfigDeviceBase::setConfigDeviceData);
    connect(task_, &ConfigDeviceBase::getRequestComplete, this,
        &ConfigDeviceBase::getRequestCompleteUnfiltered);
    connect(task_, &ConfigDeviceBase::setRequestComplete, this,
        &ConfigDeviceBase::setRequestCompleteUnfiltered);
    connect(task_, &ConfigDeviceBase::error, this, &ConfigDeviceBase::errorUnfiltered);
}
