// SPDX-License-Identifier: GPL-3.0-or-later
// Registers the audio components with the toolkit's component registry, so
// the layout resource can create TACMOut and TACMConvertor by class name.
#pragma once

void RegisterAudioClasses();
