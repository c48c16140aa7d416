#pragma once
#define EYES_QUERY_MESSAGE "SandboxEyesWhichIcon"
#define EYES_ANSWER_PROPERTY "SandboxEyesIcon"
#define EYES_NO_ICON 0x7fff
