#ifndef VESK_EXPORT_H
#define VESK_EXPORT_H

#define VESK_API __attribute__((visibility("default")))

#endif
