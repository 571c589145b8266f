// SPDX-License-Identifier: MIT
#pragma once

// Everything an engine or host compiles against to load and drive the plug-in.
#include "kestrel/BufferString.h"
#include "kestrel/ContainerInterface.h"
#include "kestrel/HostInterfaces.h"
#include "kestrel/MediaBuffer.h"
#include "kestrel/NodeList.h"
#include "kestrel/Plugin.h"
#include "kestrel/Properties.h"
#include "kestrel/Ref.h"
#include "kestrel/Result.h"
#include "kestrel/Setting.h"
#include "kestrel/StandardAllocator.h"
#include "kestrel/StreamFormat.h"
#include "kestrel/StreamInterface.h"
