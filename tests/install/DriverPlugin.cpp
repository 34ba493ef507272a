#include "DriverPlugin.h"

#include "WindowDriver.h"

QObject* DriverPlugin::create(const QString& key, const QString&)
{
    // The application deletes the object when it ends.
    return key.compare(QLatin1String("auralon_driver"), Qt::CaseInsensitive) == 0 ? new WindowDriver
                                                                                   : nullptr;
}
