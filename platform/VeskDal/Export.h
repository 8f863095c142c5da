#ifndef VESKDAL_EXPORT_H
#define VESKDAL_EXPORT_H

#define VESKDAL_API __attribute__((visibility("default")))

#endif
