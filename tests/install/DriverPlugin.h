#pragma once

#include <QGenericPlugin>

// A Qt generic plugin that the tests load into the installed program with
// "-plugin auralon_driver" and QT_PLUGIN_PATH; it makes the WindowDriver.
class DriverPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "DriverPlugin.json")
public:
    QObject* create(const QString& key, const QString& parameters) override;
};
