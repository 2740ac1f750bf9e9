#version 330
// The image corners are frustum vertices 2 to 5: (0, 0), (w, 0), (0, h), (w, h) in image pixels.
in vec3 position;
uniform mat4 projMat;
out vec2 texCoord;

void main() {
    int k = gl_VertexID - 2;
    texCoord = vec2(float(k % 2), float(k / 2));
    gl_Position = projMat * vec4(position, 1.0);
}
