precision mediump float;
uniform lowp sampler2D tex;

void main() {
    gl_FragColor = texture2D(tex, gl_PointCoord);
}
