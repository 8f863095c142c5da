#ifndef OSTRELCRYPTO_EXPORT_H
#define OSTRELCRYPTO_EXPORT_H

#define OSTRELCRYPTO_API __attribute__((visibility("default")))

#endif
