#include "zip/Bzip2Method.h"
#include "zip/DeflateMethod.h"
#include "zip/ICompressionMethod.h"
#include "zip/LzmaMethod.h"
#include "zip/StoreMethod.h"

std::shared_ptr<ICompressionMethod> CreateCompressionMethod(uint16_t methodId)
{
    // Only the method id decides; the version needed to extract is not looked at.
    if (methodId == StoreMethod::Descriptor().CompressionMethod)
        return std::make_shared<StoreMethod>();
    if (methodId == DeflateMethod::Descriptor().CompressionMethod)
        return std::make_shared<DeflateMethod>();
    if (methodId == Bzip2Method::Descriptor().CompressionMethod)
        return std::make_shared<Bzip2Method>();
    if (methodId == LzmaMethod::Descriptor().CompressionMethod)
        return std::make_shared<LzmaMethod>();
    return nullptr;
}
