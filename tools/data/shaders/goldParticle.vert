// Each gold particle is a point sprite of particleSize pixels.
attribute highp vec4 vertex;
uniform highp mat4 pvm;
uniform mediump float particleSize;

void main() {
    gl_PointSize = particleSize;
    gl_Position = pvm * vertex;
}
