#version 330
in vec2 texCoord;
uniform sampler2D texture;
uniform uint inObjId;
layout(location = 0) out vec4 diffuseColor;
layout(location = 1) out uint objId;

void main() {
    diffuseColor = texture2D(texture, texCoord);
    objId = inObjId;
}
